#pragma once

#include "data_access/Hijo.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

namespace data_access {

// The workers of one estate run: login processes that each run that run's
// logins one after another (login_process/main.cpp), so that the run pays
// for a process's fork, exit and first page faults once per worker rather
// than once per login. A worker is lent to one login at a time, with every
// guarantee of a login process (the deadline, after which it is killed, its
// private relay, its end with this process), and comes back only when it says
// the login is over and wiped; one that does not, or that ends, is killed and
// replaced by a new one. The window keeps a process of its own per login.
// Shared by the run's connection objects (see nuevaConexion); thread-safe.
class CuadrillaLogins {
public:
    CuadrillaLogins() = default;
    CuadrillaLogins(const CuadrillaLogins&) = delete;
    CuadrillaLogins& operator=(const CuadrillaLogins&) = delete;
    // Closes the idle workers' channels, which ends them; they are reaped in the
    // background (terminaServidorLogins waits for them).
    ~CuadrillaLogins();

    // An idle worker for a login, or a new one from the login server; none when
    // the server did not answer within `espera`. Throws ErrorConexion as lanzaLogin.
    std::optional<Hijo> presta(std::optional<std::chrono::milliseconds> espera);

    // A worker back from its login: kept when it says it is ready for another
    // within `espera` (none: two seconds), killed otherwise.
    void recibe(Hijo trabajador, std::optional<std::chrono::milliseconds> espera) noexcept;

private:
    std::mutex mutex_;
    std::vector<Hijo> libres_;
};

} // namespace data_access
