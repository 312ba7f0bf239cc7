#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_shared {

enum class VersionTls : std::uint8_t { Tls1_0, Tls1_1, Tls1_2 };

// "TLS 1.0"
const char* nombreTls(VersionTls version);
// The version as the wire writes it (0x0301 = TLS 1.0); nothing for any other value.
std::optional<VersionTls> versionTlsDelCable(std::uint16_t version);

// A client generation, as its era's client could log in: the TDS version it
// speaks, the TLS versions and the cipher suites it offers.
struct Proveedor {
    const char* nombre;  // what the connection string names
    const char* version; // "2005": how the window and its users name it
    const char* producto;
    int versionDbLib; // DBVERSION_7x
    const char* versionTds;
    VersionTls tlsMinimo;
    VersionTls tlsMaximo;
    // GnuTLS priority keywords for the era's suites; the versions are added from the two above.
    const char* suitesGnuTls;
    // The era's Schannel suites (IANA codes) this client must offer.
    const std::uint16_t* suites;
    std::size_t numeroSuites;
};

// The two generations, in the order a test runs them.
const std::array<Proveedor, 2>& generaciones();

// The whole GnuTLS priority string of a generation: its suites and exactly its versions.
std::string prioridadTls(const Proveedor& p);
std::vector<std::uint16_t> suitesTls(const Proveedor& p);

// Throws ErrorConexion when the name is not one this component serves.
const Proveedor& buscaProveedor(const std::string& nombre);

} // namespace login_shared
