#pragma once

#include <cstdint>
#include <string>

namespace login_shared {

// A server as SQL Server users write it: host, host\instance, host,port,
// tcp:host[,port], (local), ".", IPv4 and IPv6 literals ([::1] too).
struct DireccionServidor {
    std::string host;         // without brackets, "localhost" for (local) and "."
    std::uint16_t puerto = 0; // 0: not given
    std::string instancia;    // empty: the default instance

    // "host, puerto N" / "host\instancia" for messages.
    std::string describe() const;
};

// Throws ErrorConexion for an empty name, a bad port or a transport other
// than TCP (np:, lpc:, admin:, via:).
DireccionServidor leeDireccionServidor(const std::string& texto);

} // namespace login_shared
