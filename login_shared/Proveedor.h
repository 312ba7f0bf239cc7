#pragma once

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
    // Encrypt=Mandatory: the whole session goes inside TLS, or nothing does. Otherwise the login
    // goes inside TLS whenever the server can, and the rest as the server asks.
    bool cifradoObligatorio;
    // TrustServerCertificate=no: the server's certificate is checked before the login is sent.
    bool compruebaCertificado;
};

// Consecutive generations of the one table (C++17 has no std::span).
class ListaGeneraciones {
public:
    constexpr ListaGeneraciones(const Proveedor* inicio, std::size_t n) : inicio_(inicio), n_(n) {}
    const Proveedor* begin() const { return inicio_; }
    const Proveedor* end() const { return inicio_ + n_; }
    std::size_t size() const { return n_; }
    const Proveedor& operator[](std::size_t i) const { return inicio_[i]; }

private:
    const Proveedor* inicio_;
    std::size_t n_;
};

// The window's two generations, in the order a test runs them.
ListaGeneraciones generaciones();
// Those and today's drivers after them: every generation tarpelino-lote can run.
ListaGeneraciones todasLasGeneraciones();
// The generation `version` ("odbc18") names; none when no generation has that name.
const Proveedor* generacionDeVersion(const std::string& version);

// The whole GnuTLS priority string of a generation: its suites and exactly its versions.
std::string prioridadTls(const Proveedor& p);
std::vector<std::uint16_t> suitesTls(const Proveedor& p);

// Throws ErrorConexion when the name is not one this component serves.
const Proveedor& buscaProveedor(const std::string& nombre);

} // namespace login_shared
