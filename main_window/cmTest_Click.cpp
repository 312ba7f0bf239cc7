#include "frmPrincipal.h"

#include "CajaTexto.h"
#include "CajaTextoMultilinea.h"
#include "mensajeCritico.h"

#include <QLabel>
#include <exception>

namespace {

struct Pasada {
    const char* proveedor;
    QLabel* resultado;
    CajaTextoMultilinea* errores;
};

} // namespace

// The run itself catches nothing: what the probe does not turn into a false
// result ends the click here, shown to the user, and the application goes on.
void frmPrincipal::cmTest_Click() {
    try {
        ejecutaTest();
    } catch (const std::exception& error) {
        muestraMensajeCritico(this, QString::fromUtf8(error.what()));
    } catch (...) {
        muestraMensajeCritico(this, QStringLiteral("Error inesperado durante el test de conexión."));
    }
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

        if (!compruebaConexion(QString::fromLatin1(pasada.proveedor), servidor, baseDatos, usuario, password,
                               textoError)) {
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
