#pragma once

#include <cstdint>
#include <string>

namespace data_access {

enum class VersionTls : std::uint8_t { Tls1_0, Tls1_1, Tls1_2 };

// "TLS 1.0"
const char* nombreTls(VersionTls version);

// A client generation, as its era's client could log in: the TDS version it
// speaks and the TLS versions it offers.
struct Proveedor {
    const char* nombre;
    const char* producto;
    int versionDbLib; // DBVERSION_7x
    const char* versionTds;
    VersionTls tlsMinimo;
    VersionTls tlsMaximo;
};

// Throws ErrorConexion when the name is not one this component serves.
const Proveedor& buscaProveedor(const std::string& nombre);

} // namespace data_access
