#pragma once

#include <string>

namespace login_process {

// The login server: tarpelino-login is started once, made ready (GnuTLS,
// db-lib, the character conversions), and then forks one login process per
// request on `canal`, so that no login pays for an exec and the dynamic
// linking again. Returns only in a forked child, with that login's channel
// on `canal` and the open's environment and working directory applied. The
// server itself ends (_exit) when the application's end of `canal` closes.
// The server must stay single-threaded: its children are forked with a raw
// clone(CLONE_PARENT), which only a single thread can do safely.
struct LoginLanzado {
    bool trabajador = false; // serves logins in turn (kLanzaTrabajador), rather than one
    // What to add to a failure's description: empty, or that the working
    // directory could not be entered and the login went on without it.
    std::string aviso;
};
LoginLanzado sirveLogins(int canal);

} // namespace login_process
