#pragma once

#include "login_process/ResolucionNombres.h"
#include "login_shared/Plazo.h"

#include <cstdint>

namespace login_process {

using login_shared::Plazo;

// What a server that closed on a PRELOGIN in clear says to a TLS
// ClientHello offering ALPN tds/8.0, on a connection of its own.
enum class RespuestaTds8 {
    Ninguna,      // no TLS: refused, closed, reset, or silent until the time ran out
    Tds8,         // TLS agreed and a TDS reply to a PRELOGIN inside it: strict encryption
    TlsSinTds,    // TLS agreed but no TDS inside, or tds/8.0 declined: another service behind TLS
    TlsRechazado, // it answered in TLS but turned down every version offered (TLS 1.0 to 1.2)
};

// A new TCP connection to `destino` (address and port); ends within the
// time `plazo` has left, and never takes more than a few seconds of it.
// On Tds8, `versionTls` (when given) gets the version agreed (0x0303: TLS 1.2).
RespuestaTds8 sondeaTds8(const DireccionIp& destino, const Plazo& plazo, std::uint16_t* versionTls = nullptr);

} // namespace login_process
