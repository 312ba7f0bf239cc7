#include "main_window/arranque.h"
#include "main_window/frmPrincipal.h"
#include "main_window/mensajeCritico.h"
#include "main_window/sinPantalla.h"
#include "main_window/ventanaPrincipal.h"

#include <QApplication>
#include <cstdio>
#include <optional>

int main(int argc, char* argv[]) {
    // Before Qt: they need no display.
    if (const auto respuesta = respondeLineaOrdenes(argc, argv)) {
        std::fputs(respuesta->texto.c_str(), stdout);
        return respuesta->estado;
    }
    if (const auto motivo = faltaPantalla(argc, argv)) {
        std::fputs(mensajeSinPantalla(*motivo).c_str(), stderr);
        return kEstadoSinPantalla;
    }
    // Only while Qt's platform plugin connects to the display.
    std::optional<VigilanciaPantalla> vigilancia(std::in_place);
    QApplication aplicacion(argc, argv);
    vigilancia.reset();
    instalaTraduccionesQt(aplicacion);
    QApplication::setApplicationName(QString::fromUtf8(kTituloAplicacion));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));
    // Ties the window to its menu entry (Wayland's app id, the task switcher's icon).
    QGuiApplication::setDesktopFileName(QStringLiteral(TARPELINO_ID));

    frmPrincipal ventana;
    preparaVentanaPrincipal(ventana, QStringLiteral(":/iconos/%1.png"));
    ventana.show();
    return aplicacion.exec();
}
