#include "main_window/frmPrincipal.h"

#include "main_window/CajaTexto.h"
#include "main_window/CajaTextoMultilinea.h"
#include "main_window/mensajeCritico.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <exception>

namespace {

struct Pasada {
    const char* proveedor;
    QLabel* resultado;
    CajaTextoMultilinea* errores;
};

// The label's accessible name is its caption, so its text (and what the
// tooltip adds) reaches a screen reader as the description, whose change Qt
// announces.
void anunciaResultado(QLabel* etiqueta) {
    const QString detalle = etiqueta->toolTip();
    etiqueta->setAccessibleDescription(detalle.isEmpty() ? etiqueta->text()
                                                         : etiqueta->text() + '\n' + detalle);
}

} // namespace

// The run itself catches nothing: what the probe does not turn into a false
// result ends the click here, shown to the user, and the application goes on.
void frmPrincipal::cmTest_Click() {
    // User input waits until the run is over, but a click can still come in by
    // other roads (accessibility, a programmatic click): never a run inside a run.
    if (testEnCurso)
        return;
    testEnCurso = true;
    try {
        ejecutaTest();
    } catch (const std::exception& error) {
        muestraMensajeCritico(this, QString::fromUtf8(error.what()));
    } catch (...) {
        muestraMensajeCritico(this, QStringLiteral("Error inesperado durante el test de conexión."));
    }
    testEnCurso = false;
    if (cierrePendiente) {
        cierrePendiente = false;
        // Once this click's handling has unwound: closing may delete the window.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

// The run and the open's thread still use the window and its connection:
// a close asked for meanwhile is carried out when the run ends.
void frmPrincipal::closeEvent(QCloseEvent* evento) {
    if (testEnCurso) {
        cierrePendiente = true;
        evento->ignore();
        return;
    }
    QWidget::closeEvent(evento);
}

void frmPrincipal::ejecutaTest() {
    const Pasada pasadas[] = {
        {"SQLNCLI", lbl2005, txtErr2005},
        {"SQLNCLI10", lbl2008, txtErr2008},
    };
    // One error text per click, shared by both passes.
    QString textoError;
    for (const Pasada& pasada : pasadas) {
        const QString servidor = txtServer->text();
        const QString baseDatos = txtBD->text().isEmpty() ? QStringLiteral("MASTER") : txtBD->text();
        const QString usuario = txtUsuario->text();
        const QString password = txtPwd->text();

        const bool correcta = compruebaConexion(QString::fromLatin1(pasada.proveedor), servidor, baseDatos,
                                                usuario, password, textoError);
        // What the open learned, or where it stopped: the label's tooltip.
        pasada.resultado->setToolTip(conexion ? QString::fromStdString(conexion->resumenApertura())
                                              : QString());
        if (!correcta) {
            conexion.reset();
            pasada.resultado->setText(QStringLiteral("Conexión INCORRECTA."));
            pintaResultado(pasada.resultado, ColorResultado::Rojo);
            pasada.errores->setPlainText(textoError);
        } else {
            pasada.resultado->setText(QStringLiteral("Conexión CORRECTA."));
            pintaResultado(pasada.resultado, ColorResultado::ResaltadoSistema);
            conexion->close();
            pasada.errores->setPlainText(QString());
            conexion.reset();
        }
        anunciaResultado(pasada.resultado);
        // Shows pass 1's outcome while pass 2 still waits on the network.
        pasada.resultado->repaint();
    }
}

void frmPrincipal::pintaResultado(QLabel* etiqueta, ColorResultado color) {
    if (color == ColorResultado::ResaltadoSistema) {
        // The role, not a copy of its colour, so the label follows the palette.
        etiqueta->setForegroundRole(QPalette::Highlight);
        return;
    }
    QPalette paleta = etiqueta->palette();
    paleta.setColor(QPalette::WindowText, QColor(255, 0, 0));
    etiqueta->setPalette(paleta);
    etiqueta->setForegroundRole(QPalette::WindowText);
}
