#pragma once

#include "login_shared/Plazo.h"
#include "login_shared/ProtocoloLogin.h"

#include <memory>
#include <sys/types.h>

namespace data_access {

// One login, run in a process of its own (tarpelino-login). db-lib cannot
// cancel a login in progress and keeps its handlers, timeouts and
// configuration process-wide; a process can be stopped at the deadline and
// leaves no thread, socket or file behind. It lives as long as the open
// connection does.
class ProcesoLogin {
public:
    // Runs the login; throws ErrorApertura with the description of the
    // failure and the stage it had reached. The deadline is kept even when the login process does not
    // answer: it is killed then.
    static std::unique_ptr<ProcesoLogin> abre(const PeticionLogin& peticion, const Plazo& plazo);

    ~ProcesoLogin(); // closes the login

    const ResumenLogin& resumen() const { return resumen_; }
    ProcesoLogin(const ProcesoLogin&) = delete;
    ProcesoLogin& operator=(const ProcesoLogin&) = delete;

private:
    ProcesoLogin(pid_t pid, int canal) : pid_(pid), canal_(canal) {}

    pid_t pid_;
    int canal_;
    ResumenLogin resumen_;
};

} // namespace data_access
