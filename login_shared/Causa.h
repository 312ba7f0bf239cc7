#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace login_shared {

// What stopped a failed pass, as one stable code a program can act on
// (tarpelino-lote's `causa`). The description says the rest in words.
enum class Causa : std::uint8_t {
    Valor,           // a value refused before anything was sent
    Nombre,          // the host name could not be looked up
    Instancia,       // the SQL Server Browser, or the instance it was asked for
    Tcp,             // the TCP connection was refused or never made
    NoSqlServer,     // what answers at the port is another service
    CifradoEstricto, // the server requires TDS 8.0 (strict encryption)
    TlsVersion,      // no TLS version in common
    TlsSuite,        // no cipher suite in common
    Tls,             // any other TLS failure
    // The certificate, as a current driver (Encrypt=Mandatory, TrustServerCertificate=no) checks it:
    // no chain to a trusted CA (self-signed, an unknown CA, none readable); the name as typed not among
    // its names; out of its dates; a signature (SHA-1, MD5) or key (RSA under 2048 bits) TLS refuses.
    CertificadoNoConfiable,
    CertificadoNombre,
    CertificadoCaducado,
    CertificadoDebil,
    Kerberos,        // the service ticket could not be had
    InicioSesion,    // the server refused the login with an error message
    Conexion,        // the server closed or reset the connection during the login
    Protocolo,       // the server's reply to the login is no TDS reply, or not one that can be checked
    BaseDatos,       // the login went through but the database could not be opened
    Tiempo,          // the deadline passed at the stage the description names
    Sistema,         // a system limit (processes, descriptors, memory)
    CuentaProtegida, // not tried: a domain account's password was already refused
    Interrumpida,    // the run was cut short before the pass ended, or before it started
    Equipo,          // the time went on this machine, not on the server
    Interno,         // anything else: a fault of the tool itself
};

inline constexpr std::array<std::string_view, 24> kCodigosCausa{
    "valor",
    "nombre",
    "instancia",
    "tcp",
    "no_sql_server",
    "cifrado_estricto",
    "tls_version",
    "tls_suite",
    "tls",
    "certificado_no_confiable",
    "certificado_nombre",
    "certificado_caducado",
    "certificado_debil",
    "kerberos",
    "inicio_sesion",
    "conexion",
    "protocolo",
    "base_datos",
    "tiempo",
    "sistema",
    "cuenta_protegida",
    "interrumpida",
    "equipo",
    "interno",
};

constexpr std::string_view codigoCausa(Causa causa) {
    return kCodigosCausa[static_cast<std::size_t>(causa)];
}

inline std::optional<Causa> causaDeCodigo(std::string_view codigo) {
    for (std::size_t i = 0; i < kCodigosCausa.size(); ++i)
        if (kCodigosCausa[i] == codigo)
            return Causa(i);
    return std::nullopt;
}

} // namespace login_shared
