#include "data_access/Proveedor.h"

#include "data_access/Conexion.h"
#include "data_access/TextoAscii.h"
#include "data_access/TextosError.h"

#include <array>
#include <sybdb.h>

namespace data_access {

namespace {

// TDS: SQL Server 2005 speaks 7.2 and 2008 speaks 7.3 (MS-TDS 2.2.6.4, TDSVersion).
// TLS: Microsoft's "TLS 1.2 support for Microsoft SQL Server" (KB 3135244)
// lists TLS 1.2 updates for the SQL Server 2008 and 2008 R2 Native Client
// (SNAC 10.0/10.50) and none for the 2005 Native Client (SQLNCLI, SNAC 9),
// which offers TLS 1.0 at most through Schannel of its time.
constexpr std::array<Proveedor, 2> kProveedores{{
    {"SQLNCLI", "SQL Server 2005", DBVERSION_72, "7.2", VersionTls::Tls1_0, VersionTls::Tls1_0},
    {"SQLNCLI10", "SQL Server 2008", DBVERSION_73, "7.3", VersionTls::Tls1_0, VersionTls::Tls1_2},
}};

} // namespace

const char* nombreTls(VersionTls version) {
    switch (version) {
    case VersionTls::Tls1_0:
        return "TLS 1.0";
    case VersionTls::Tls1_1:
        return "TLS 1.1";
    case VersionTls::Tls1_2:
        break;
    }
    return "TLS 1.2";
}

const Proveedor& buscaProveedor(const std::string& nombre) {
    for (const Proveedor& p : kProveedores) {
        // Versioned ProgIDs ("SQLNCLI10.1") name the same provider.
        const std::string base(p.nombre);
        if (igualSinMayusculas(nombre, base) || igualSinMayusculas(nombre, base + ".1"))
            return p;
    }
    std::string disponibles;
    for (const Proveedor& p : kProveedores)
        disponibles += std::string(disponibles.empty() ? "" : ", ") + p.nombre + " (" + p.producto + ")";
    throw ErrorConexion(textos::proveedorNoDisponible(nombre, disponibles));
}

} // namespace data_access
