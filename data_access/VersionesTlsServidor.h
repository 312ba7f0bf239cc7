#pragma once

#include "data_access/CuadrillaLogins.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <memory>
#include <string>

namespace data_access {

// The TLS versions `servidor` (any form the window takes) completes a
// handshake with, found by a login process with the login's own name and
// instance lookup but without a login: no LOGIN7 and no password are sent, so
// nothing counts towards a lockout. The whole of it within `tiempo`. A server
// that cannot be found or reached has an empty list and the reason.
// With a `cuadrilla`, it runs in one of that crew's workers.
// The versions in `sabidas`, which a login already completed a handshake with, cost no other.
login_shared::VersionesTls versionesTlsDe(const std::string& servidor, std::chrono::milliseconds tiempo,
                                          const std::shared_ptr<CuadrillaLogins>& cuadrilla = nullptr,
                                          const login_shared::TablaResolucion& resolucionFija = {},
                                          const std::vector<login_shared::VersionTls>& sabidas = {});

} // namespace data_access
