#pragma once

#include <cstdint>
#include <string>

namespace stand_in::testing {

// tedious (tests/stand_in/tedious) is installed by scripts/install-deps.sh test; npm may not have
// reached its registry.
bool tediousInstalled();

// What tedious made of a login that checks the server's certificate as a current driver does.
struct TediousVerdict {
    bool connected = false;
    std::string error;  // tedious' text: "Failed to connect to localhost:1433 - self-signed certificate"
    std::string output; // the script's whole output, for a failure message
};

// A login at `server`:`port` with encrypt: true and trustServerCertificate: false, so that the
// certificate must name `server` (a host name, or an IP literal among its IP addresses) and chain to
// one of Node's CAs or those of `caFile` (PEM, added through NODE_EXTRA_CA_CERTS; empty for none).
TediousVerdict tediousChecksCertificate(const std::string& server, std::uint16_t port,
                                        const std::string& caFile, const std::string& user,
                                        const std::string& password);

} // namespace stand_in::testing
