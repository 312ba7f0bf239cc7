#pragma once

#include <optional>
#include <string>

// tarpelino started where there is no graphical display (a jump host reached
// over ssh): instead of Qt's abort in English (status 134), a message in
// Spanish that says why and points to tarpelino-lote, and status 1.

inline constexpr int kEstadoSinPantalla = 1;

// What it says, on standard error, given why there is no display.
std::string mensajeSinPantalla(const std::string& motivo);

// Why Qt would look for a display that nothing names, before Qt starts: no
// platform asked for (QT_QPA_PLATFORM, -platform) and neither DISPLAY nor
// WAYLAND_DISPLAY set. Nothing when Qt may find one.
std::optional<std::string> faltaPantalla(int argc, const char* const* argv);

// While it lives (around the QApplication's construction), a display that Qt's
// platform plugin cannot connect to ends the program with the message and
// status 1 instead of Qt's abort; Qt's messages meanwhile are held, and passed
// on as before when it ends without that having happened.
class VigilanciaPantalla {
public:
    VigilanciaPantalla();
    ~VigilanciaPantalla();
    VigilanciaPantalla(const VigilanciaPantalla&) = delete;
    VigilanciaPantalla& operator=(const VigilanciaPantalla&) = delete;
};
