#pragma once

#include "data_access/Hijo.h"
#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <optional>
#include <utility>

namespace data_access {

using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::TablaResolucion;

class CuadrillaLogins;

// One login, run in a tarpelino-login process of its own (a Hijo), and the
// sole owner of that process. db-lib cannot
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
    static LoginHijo lanza(const PeticionLogin& peticion, const Plazo& plazo,
                           const TablaResolucion& resolucionFija = {}, bool plazoDesdeElProceso = false,
                           CuadrillaLogins* cuadrilla = nullptr);

    // The TLS versions the request's server completes a handshake with, found by
    // a login process (a worker of `cuadrilla`, when given) with the login's own
    // name and instance lookup but no login: nothing of the credentials is sent.
    // Throws ErrorApertura as lanza when the server cannot be found or the process fails.
    static login_shared::VersionesTls sondeaVersionesTls(const PeticionLogin& peticion, const Plazo& plazo,
                                                         const TablaResolucion& resolucionFija = {},
                                                         CuadrillaLogins* cuadrilla = nullptr);

    LoginHijo(LoginHijo&& otro) noexcept;
    LoginHijo& operator=(LoginHijo&& otro) noexcept;
    LoginHijo(const LoginHijo&) = delete;
    LoginHijo& operator=(const LoginHijo&) = delete;
    ~LoginHijo();

    const ResumenLogin& resumen() const { return resumen_; }

private:
    LoginHijo(Hijo proceso, CuadrillaLogins* cuadrilla) noexcept
        : proceso_(std::move(proceso)), cuadrilla_(cuadrilla) {}

    // lanza for a request of kind `tipo` (kPeticion, kSondaTls).
    static LoginHijo lanzaPeticion(char tipo, const PeticionLogin& peticion, const Plazo& plazo,
                                   const TablaResolucion& resolucionFija, bool plazoDesdeElProceso,
                                   CuadrillaLogins* cuadrilla);

    // Closes the login (or kills a process that has none open) and hands it to the reaper.
    void suelta() noexcept;

    Hijo proceso_;
    bool abierto_ = false;                 // answered kAbierta: closed by asking, not by killing
    CuadrillaLogins* cuadrilla_ = nullptr; // the worker's, to go back to
    bool fallido_ = false;                 // answered kFallo: a worker is ready for another login
    // What is left of the failed open's time, for the worker to say it is ready: the open never outlasts it.
    std::optional<std::chrono::milliseconds> esperaListo_;
    ResumenLogin resumen_;
    login_shared::VersionesTls versiones_; // a kSondaTls's answer
};

} // namespace data_access
