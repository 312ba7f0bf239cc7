#pragma once

#include "data_access/Hijo.h"

#include <chrono>
#include <optional>

namespace data_access {

// The application's side of the login server (login_process/ServidorLogins.h):
// one tarpelino-login process, started once and made ready, forks a process
// for each login, so that no open waits for an exec and the dynamic linking.
// One server serves both generations: what differs between them (TLS versions
// and suites) comes with each request.

// Starts the login server in the background if none is running: the window
// calls it once its first frame is shown. An open without it starts the
// server itself. A failure here is left for the first open to meet.
void preparaLogins() noexcept;

// Ends the login server and waits for every closing login process: at exit,
// or where children are counted. The next open, or preparaLogins(), starts a new one.
void terminaServidorLogins() noexcept;

// A login process forked now, with this process's environment and working
// directory (as they are now, not as they were when the server started);
// none when the server did not answer within `espera` (it is killed then).
// Starts a server if none is running or it has died. Throws ErrorConexion
// when no process can be had.
std::optional<Hijo> lanzaLogin(std::optional<std::chrono::milliseconds> espera);
// The same for a worker that serves logins in turn (CuadrillaLogins).
std::optional<Hijo> lanzaTrabajador(std::optional<std::chrono::milliseconds> espera);

} // namespace data_access
