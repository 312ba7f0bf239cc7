#include "login_shared/Proveedor.h"

#include "login_shared/ErrorConexion.h"
#include "login_shared/TextoAscii.h"
#include "login_shared/Textos.h"

#include <array>
#include <iterator>
#include <sybdb.h>

namespace login_shared {

namespace {

// Suites: Schannel of Windows XP / Server 2003 (the 2005 Native Client's
// systems) offers RSA key exchange with RC4 and 3DES, and AES with KB948963;
// Windows Vista, 7 and Server 2008 R2 (the 2008 Native Client's) add ECDHE
// and TLS 1.2 suites and still offer RC4 and 3DES. The sources are in the
// README. XP's DES, export and DHE_DSS suites are left out: GnuTLS 3.7 has none.
constexpr std::uint16_t kSuites2005[] = {0x002F, 0x0035, 0x0005, 0x000A, 0x0004};
constexpr std::uint16_t kSuites2008[] = {0xC02C, 0xC02B, 0xC014, 0xC013, 0xC00A, 0xC009, 0x003D,
                                         0x003C, 0x0035, 0x002F, 0x0005, 0x000A, 0x0004};

// TDS: SQL Server 2005 speaks 7.2 and 2008 speaks 7.3 (MS-TDS 2.2.6.4, TDSVersion).
// TLS: Microsoft's "TLS 1.2 support for Microsoft SQL Server" (KB 3135244)
// lists TLS 1.2 updates for the SQL Server 2008 and 2008 R2 Native Client
// (SNAC 10.0/10.50) and none for the 2005 Native Client (SQLNCLI, SNAC 9),
// which offers TLS 1.0 at most through Schannel of its time.
// Today's drivers (ODBC Driver 17 and 18, OLE DB Driver 18 and 19, SqlClient)
// speak TDS 7.4 over TLS 1.2 with what Schannel of Windows 10 and Server 2016
// to 2022 offers for it: ECDHE and RSA key exchange with AES-GCM and AES-CBC
// ("TLS Cipher Suites in Windows 10", learn.microsoft.com). GnuTLS's keywords
// cannot leave out DHE with AES-CBC-SHA256, which those lists lack: they come along.
constexpr std::uint16_t kSuitesActuales[] = {0xC030, 0xC02F, 0xC028, 0xC014, 0xC027, 0xC013, 0xC02C, 0xC02B,
                                             0xC024, 0xC00A, 0xC023, 0xC009, 0x009F, 0x009E, 0x006B, 0x0039,
                                             0x0067, 0x0033, 0x009D, 0x009C, 0x003D, 0x0035, 0x003C, 0x002F};
constexpr char kPrioridadActual[] = "NONE:+ECDHE-RSA:+ECDHE-ECDSA:+DHE-RSA:+RSA:+AES-256-GCM:+AES-128-GCM:"
                                    "+AES-256-CBC:+AES-128-CBC:+AEAD:+SHA384:+SHA256:+SHA1:+COMP-NULL:"
                                    "+SIGN-ALL:+GROUP-ALL:%COMPAT";

// The window's two first; then ODBC Driver 17 (with OLE DB Driver 18 and
// SqlClient before 4: Encrypt=no, the certificate not checked) and ODBC Driver
// 18 (with OLE DB Driver 19 and SqlClient 4 and later, since 2022:
// Encrypt=Mandatory, the certificate checked), named by their OLE DB providers.
constexpr std::array<Proveedor, 4> kProveedores{{
    {"SQLNCLI", "2005", "SQL Server 2005", DBVERSION_72, "7.2", VersionTls::Tls1_0, VersionTls::Tls1_0,
     "NONE:+RSA:+AES-128-CBC:+AES-256-CBC:+ARCFOUR-128:+3DES-CBC:+SHA1:+MD5:+COMP-NULL:+SIGN-ALL:%COMPAT",
     kSuites2005, std::size(kSuites2005), false, false},
    {"SQLNCLI10", "2008", "SQL Server 2008", DBVERSION_73, "7.3", VersionTls::Tls1_0, VersionTls::Tls1_2,
     "NORMAL:%COMPAT:+ARCFOUR-128:+3DES-CBC:+MD5:+SHA256", kSuites2008, std::size(kSuites2008), false, false},
    {"MSOLEDBSQL", "odbc17", "ODBC Driver 17", DBVERSION_74, "7.4", VersionTls::Tls1_2, VersionTls::Tls1_2,
     kPrioridadActual, kSuitesActuales, std::size(kSuitesActuales), false, false},
    {"MSOLEDBSQL19", "odbc18", "ODBC Driver 18", DBVERSION_74, "7.4", VersionTls::Tls1_2, VersionTls::Tls1_2,
     kPrioridadActual, kSuitesActuales, std::size(kSuitesActuales), true, true},
}};

constexpr std::size_t kGeneracionesVentana = 2;

} // namespace

ListaGeneraciones generaciones() {
    return {kProveedores.data(), kGeneracionesVentana};
}

ListaGeneraciones todasLasGeneraciones() {
    return {kProveedores.data(), kProveedores.size()};
}

const Proveedor* generacionDeVersion(const std::string& version) {
    for (const Proveedor& p : kProveedores)
        if (igualSinMayusculas(version, p.version))
            return &p;
    return nullptr;
}

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

std::optional<VersionTls> versionTlsDelCable(std::uint16_t version) {
    if (version < 0x0301 || version > 0x0303)
        return std::nullopt;
    return VersionTls(version - 0x0301);
}

std::string prioridadTls(const Proveedor& p) {
    static constexpr std::array<const char*, 3> kVersiones{"+VERS-TLS1.0", "+VERS-TLS1.1", "+VERS-TLS1.2"};
    std::string prioridad = std::string(p.suitesGnuTls) + ":-VERS-ALL";
    for (std::size_t v = std::size_t(p.tlsMaximo) + 1; v-- > std::size_t(p.tlsMinimo);)
        prioridad += std::string(":") + kVersiones[v];
    return prioridad;
}

std::vector<std::uint16_t> suitesTls(const Proveedor& p) {
    return {p.suites, p.suites + p.numeroSuites};
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

} // namespace login_shared
