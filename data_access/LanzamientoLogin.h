#pragma once

#include "data_access/Hijo.h"
#include "login_shared/Descriptor.h"
#include "login_shared/Peticion.h"

#include <string>
#include <utility>

namespace data_access {

using login_shared::Descriptor;
using login_shared::Lanzamiento;

// Starts tarpelino-login as the login server (login_process/ServidorLogins.h),
// with GnuTLS's system priority file of its own, the environment an open
// would give it and this working directory; throws ErrorConexion if it cannot.
Hijo lanzaServidorLogins();

// What a login process forked now takes from this process: the environment,
// FreeTDS's overrides left out, and the working directory.
Lanzamiento lanzamientoActual();

// Both ends of a new channel (a Unix stream socket pair, close-on-exec);
// throws ErrorConexion if the system has none to give.
std::pair<Descriptor, Descriptor> parDeCanales();

// Where tarpelino-login is: the one installed beside this executable
// (<prefix>/libexec/tarpelino) when there is one, and only for an
// executable of the build tree the one built there; else none.
std::string rutaProcesoLogin();
// The same choice for an executable at `ejecutable`; empty when there is none to run.
std::string rutaProcesoLoginPara(const std::string& ejecutable, const std::string& arbolCompilacion,
                                 const std::string& rutaCompilada);

} // namespace data_access
