#pragma once

#include <optional>
#include <string>

class QCoreApplication;

// What tarpelino answers on its command line before any window exists:
// --help and --version print and end, as Debian's desktop programs do, so
// they work without a display. Nothing for any other command line (Qt's own
// options, such as -platform, are Qt's).
struct RespuestaLineaOrdenes {
    std::string texto;
    int estado = 0;
};
std::optional<RespuestaLineaOrdenes> respondeLineaOrdenes(int argc, const char* const* argv);

// Qt's own texts (the text boxes' context menu, standard buttons) in the
// window's language, from Debian's qt6-translations-l10n.
void instalaTraduccionesQt(QCoreApplication& aplicacion);
