#include "main_window/frmPrincipal.h"

#include "login_shared/Proveedor.h"
#include "main_window/CajaTexto.h"
#include "main_window/CajaTextoMultilinea.h"
#include "main_window/mensajeCritico.h"
#include "probe/pasadaConexion.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTextDocument>
#include <exception>
#include <optional>
#include <stdexcept>

namespace {

struct Pasada {
    const char* proveedor;
    QLabel* resultado;
    CajaTextoMultilinea* errores;
};

// Qt shows a tooltip that looks like HTML as HTML: the server's name in it
// ("<b>SRV</b>") must show as the server sent it, not format the box.
QString textoLlano(const QString& texto) {
    return Qt::mightBeRichText(texto) ? Qt::convertFromPlainText(texto, Qt::WhiteSpacePre) : texto;
}

// What a tooltip shows, as plain text.
QString textoMostrado(const QString& tooltip) {
    if (!Qt::mightBeRichText(tooltip))
        return tooltip;
    QTextDocument documento;
    documento.setHtml(tooltip);
    return documento.toPlainText();
}

// The label's accessible name is its caption, so its text (and what the
// tooltip adds) reaches a screen reader as the description, whose change Qt
// announces.
void anunciaResultado(QLabel* etiqueta) {
    const QString detalle = textoMostrado(etiqueta->toolTip());
    etiqueta->setAccessibleDescription(detalle.isEmpty() ? etiqueta->text()
                                                         : etiqueta->text() + '\n' + detalle);
}

} // namespace

// The run itself catches nothing: what the probe does not turn into a false
// result ends the click here, shown to the user, and the application goes on.
void frmPrincipal::cmTest_Click() {
    // User input waits until the run is over and is delivered before it ends;
    // a click can also come in by other roads (accessibility, a programmatic
    // click): never a run inside a run, nor one after it for a click made during it.
    if (testEnCurso)
        return;
    testEnCurso = true;
    std::optional<QString> fallo;
    try {
        ejecutaTest();
    } catch (const std::exception& error) {
        fallo = QString::fromUtf8(error.what());
    } catch (...) {
        fallo = QStringLiteral("Error inesperado durante el test de conexión.");
    }
    // Before the message box, so that what was typed during the run goes
    // where it was typed, not to the box.
    entregaEntradaRetenida();
    if (fallo)
        muestraMensajeCritico(this, *fallo);
    testEnCurso = false;
    if (cierrePendiente) {
        cierrePendiente = false;
        // Once this click's handling has unwound: closing may delete the window.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

// The window system held the user's input back while the run waited (see
// esperaSinBloquear). Delivered later, each click made meanwhile on the button
// would start another run: with a wrong password, two more failed logins per
// click. Delivered here, before the run is over, such a click meets the check
// at the top of cmTest_Click; the rest of the input goes where it was typed.
void frmPrincipal::entregaEntradaRetenida() {
    descartandoPulsaciones = true;
    QCoreApplication::processEvents();
    descartandoPulsaciones = false;
}

// A press of the button delivered with the held input is dropped too, so that
// letting go of it after the run does not click. A click is made by its press:
// a release without one does nothing. Space and Select are the keys a button
// is pressed with.
bool frmPrincipal::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto != cmTest || !descartandoPulsaciones)
        return QWidget::eventFilter(objeto, evento);
    switch (evento->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return true;
    case QEvent::KeyPress: {
        const int tecla = static_cast<QKeyEvent*>(evento)->key();
        return tecla == Qt::Key_Space || tecla == Qt::Key_Select;
    }
    default:
        return false;
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
        {login_shared::generaciones()[0].nombre, lbl2005, txtErr2005},
        {login_shared::generaciones()[1].nombre, lbl2008, txtErr2008},
    };
    // One error text per click, shared by both passes.
    QString textoError;
    for (const Pasada& pasada : pasadas) {
        const QString servidor = txtServer->text();
        const QString baseDatos =
            txtBD->text().isEmpty() ? QString::fromUtf8(probe::kBaseDatosPorDefecto) : txtBD->text();
        const QString usuario = txtUsuario->text();
        const QString password = txtPwd->text();

        const probe::ResultadoPasada resultado = compruebaConexion(
            QString::fromLatin1(pasada.proveedor), servidor, baseDatos, usuario, password, textoError);
        // What the open learned, or where it stopped: the label's tooltip.
        pasada.resultado->setToolTip(textoLlano(QString::fromStdString(resultado.resumen)));
        if (!resultado.correcta) {
            conexion.reset();
            pasada.resultado->setText(QString::fromUtf8(probe::kConexionIncorrecta));
            pintaResultado(pasada.resultado, ColorResultado::Rojo);
            pasada.errores->setPlainText(textoError);
        } else {
            pasada.resultado->setText(QString::fromUtf8(probe::kConexionCorrecta));
            pintaResultado(pasada.resultado, ColorResultado::ResaltadoSistema);
            // It connected but did not close: the click ends on that, in a box.
            if (!resultado.descripcion.empty())
                throw std::runtime_error(resultado.descripcion);
            pasada.errores->setPlainText(QString());
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
