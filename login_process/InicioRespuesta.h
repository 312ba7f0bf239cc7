#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace login_process {

// What the server's first bytes are: a SQL Server always opens with a TDS
// packet (its PRELOGIN reply), so anything else on the port is another
// service that took a PRELOGIN for its own protocol.
enum class InicioRespuesta {
    Nada, // the server sent nothing
    Tds,  // a TDS packet header: type 0x04, a known status, a length from 8 up
    Tls,  // a TLS record: a service that speaks TLS from the first byte (HTTPS, say)
    Otro, // text or bytes of another protocol: an SSH banner, an HTTP reply
};

InicioRespuesta clasificaInicio(std::string_view primeros);

// The first line of what a service sent (past any leading line breaks), cut to `maximo` bytes at a
// character boundary ("…" marks a cut), not yet made safe to show.
std::string primeraLinea(std::string_view primeros, std::size_t maximo);

} // namespace login_process
