#pragma once

#include "login_shared/Descriptor.h"
#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <optional>
#include <sys/types.h>
#include <utility>

namespace data_access {

using login_shared::Descriptor;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::TablaResolucion;

class CuadrillaLogins;
class Lanzadera;

// One login, run in a tarpelino-login process of its own, and the sole owner
// of that process (its pid) and of this side of its channel. db-lib cannot
// cancel a login in progress and keeps its handlers, timeouts and
// configuration process-wide; a process can be stopped at the deadline and
// leaves no thread, socket or file behind. It lives as long as the open
// connection does. Move-only: destroying it closes the login, and the process
// is reaped in the background (killed if it has not ended within 2 s); one
// that never logged in is killed at once. A worker of an estate run
// (CuadrillaLogins) is owned the same way while lent to the login, and goes
// back to its crew instead when the login closed or failed cleanly.
class LoginHijo {
public:
    // Runs the login in a process forked by the login server; throws
    // ErrorApertura with the description of the failure and the stage it had
    // reached. The deadline is kept even when the process does not answer: it
    // is killed then. A non-empty `resolucionFija` (tests only) goes with the request.
    // `plazoDesdeElProceso`: the deadline starts again once the process is had,
    // so that waiting for it (behind other opens, on a busy machine) is not the
    // server's time; the wait itself is bounded by the same limit.
    // With a `cuadrilla`, the login runs in one of its workers instead, which goes
    // back to it when the login is closed or failed cleanly, and is killed otherwise.
    static LoginHijo inicia(const PeticionLogin& peticion, const Plazo& plazo,
                            const TablaResolucion& resolucionFija = {}, bool plazoDesdeElProceso = false,
                            CuadrillaLogins* cuadrilla = nullptr);

    LoginHijo(LoginHijo&& otro) noexcept;
    LoginHijo& operator=(LoginHijo&& otro) noexcept;
    LoginHijo(const LoginHijo&) = delete;
    LoginHijo& operator=(const LoginHijo&) = delete;
    ~LoginHijo();

    const ResumenLogin& resumen() const { return resumen_; }

private:
    friend class CuadrillaLogins;
    friend class Lanzadera;
    explicit LoginHijo(Descriptor canal) : canal_(std::move(canal)) {}

    // Closes the login (or kills a process that has none open) and hands it to the reaper.
    void suelta() noexcept;
    // Waits for a process whose channel closed, at most `espera`; its wait status (0 when it
    // had not ended: it is killed then and left to the reaper).
    int recoge(std::chrono::milliseconds espera);

    pid_t pid_ = -1;
    Descriptor canal_;
    bool abierto_ = false;                 // answered kAbierta: closed by asking, not by killing
    CuadrillaLogins* cuadrilla_ = nullptr; // the worker's, to go back to
    bool fallido_ = false;                 // answered kFallo: a worker is ready for another login
    // What is left of the failed open's time, for the worker to say it is ready: the open never outlasts it.
    std::optional<std::chrono::milliseconds> esperaListo_;
    ResumenLogin resumen_;
};

} // namespace data_access
