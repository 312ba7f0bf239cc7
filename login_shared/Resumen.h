#pragma once

#include "login_shared/Causa.h"
#include "login_shared/Etapa.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_shared {

// What a login that went through learned, without asking the server anything
// beyond the login itself.
struct ResumenLogin {
    std::string versionTds; // agreed with the server: "7.3"
    std::string servidor;   // the server's own name, as its login messages carry it
    std::string direccion;  // the address that took the connection
    std::uint16_t puerto = 0;
    bool loginCifrado = false;    // LOGIN7 went inside TLS
    bool sesionCifrada = false;   // and so did everything after it
    std::uint16_t versionTls = 0; // 0x0303 = TLS 1.2; 0: unknown or none
    std::uint16_t suiteTls = 0;   // as the ServerHello chose it; 0: unknown or none
    // The server's certificate as it sent it; an empty subject: none seen.
    std::string certificadoSujeto;
    std::string certificadoEmisor;
    std::int64_t certificadoCaduca = 0; // seconds since 1970, UTC
    std::string certificadoClave;       // "RSA"
    unsigned certificadoBits = 0;
    std::string versionServidor; // from its PRELOGIN reply: "16.0.4135"
    // Whether a current driver (ODBC 18: the certificate checked) would take this server's
    // certificate: judged when the login went inside TLS; why not, empty when it would.
    bool certificadoJuzgado = false;
    std::string rechazoClienteActual;
};

// Why a login failed, as the login process tells it: the description, what
// stopped it, and the server's version when its PRELOGIN reply came.
struct FalloLogin {
    Causa causa = Causa::Interno;
    std::string descripcion;
    std::string versionServidor;
    // Of the open's budget, when the failure was told: the time its description states.
    std::optional<std::chrono::milliseconds> transcurrido;
    std::optional<std::int32_t> errorServidor; // the server's first error of class 11 or more
    bool pruebaEnviada = false;                // a proof of the password reached the server
};

// The TLS versions a server completes a handshake with, found without a
// login: "1.0", "1.1" and "1.2" inside its PRELOGIN, "1.2 (estricto)" in a
// strict (TDS 8.0) handshake; when none, why, in Spanish.
struct VersionesTls {
    std::vector<std::string> aceptadas;
    std::string motivo; // empty when some version was completed
};

std::string serializa(const VersionesTls& versiones);
// Throws std::runtime_error on a malformed body.
VersionesTls deserializaVersionesTls(const std::string& cuerpo);

std::string serializa(const ResumenLogin& resumen);
ResumenLogin deserializaResumen(const std::string& cuerpo);

std::string serializa(const FalloLogin& fallo);
// Throws std::runtime_error on a malformed body or an unknown cause.
FalloLogin deserializaFallo(const std::string& cuerpo);

} // namespace login_shared
