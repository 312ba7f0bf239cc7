#pragma once

#include "login_process/ResolucionNombres.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <cstdint>
#include <string>
#include <vector>

namespace login_process {

using login_shared::Plazo;

// The TLS versions the server at `direcciones` and `puerto` completes a
// handshake with inside its PRELOGIN (TLS 1.0, 1.1 and 1.2, one connection
// and handshake each, as a TDS 7.x client makes it), or, for a server that
// closes on a PRELOGIN in clear, in a strict (TDS 8.0) handshake. No LOGIN7
// is ever sent. `destino` names the server in the reasons. All of it within `plazo`.
// The versions in `sabidas`, which a login already completed a handshake with, are
// listed without another.
login_shared::VersionesTls sondeaVersionesTls(const std::vector<DireccionIp>& direcciones,
                                              std::uint16_t puerto, const std::string& destino,
                                              const Plazo& plazo,
                                              const std::vector<login_shared::VersionTls>& sabidas = {});

} // namespace login_process
