#pragma once

#include "login_shared/Resumen.h"
#include "probe/pasadaConexion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lote {

// The server's certificate, as an encrypted login saw it.
struct CamposCertificado {
    std::string sujeto;
    std::string emisor;
    bool autofirmado = false;
    std::string caduca; // "2027-03-01", UTC
    unsigned bits = 0;
};

// One pass as every output format lists it. Empty strings and absent values
// are what the pass did not learn.
struct CamposPasada {
    bool correcta = false;
    std::string veredicto; // the window's label: "Conexión CORRECTA.", or kNoIntentada, kPasadaInterrumpida
    std::string causa;     // empty on success, else a code of login_shared::Causa ("inicio_sesion")
    std::optional<std::int32_t> errorServidor; // the server's first error of class 11 or more (18456)
    std::string tds;                           // agreed version, "7.3"; empty unless it logged in
    std::string tls;     // "1.2", "ninguno" without encryption; empty unless it logged in
    std::string cifrado; // "ninguno", "inicio_sesion" (LOGIN7 only) or "sesion"; empty unless it logged in
    std::string suite;   // IANA name of the agreed cipher suite
    std::optional<CamposCertificado> certificado;
    std::string versionServidor; // from the PRELOGIN reply, "16.0.4135", failed or not
    std::string direccion;       // address that took the connection; empty unless it logged in
    std::optional<std::uint16_t> puerto;
    std::optional<long long> tiempoMs; // how long the open took
    std::string descripcion;           // the window's error box
};

// The verdict of a pass that was not made.
inline constexpr char kNoIntentada[] = "No intentada.";
// The verdict of a pass the run's end cut short or left unstarted.
inline constexpr char kPasadaInterrumpida[] = "Interrumpida.";

CamposPasada campos(const probe::ResultadoPasada& pasada);

// A server's TLS versions as one text: "1.0 1.1 1.2".
std::string listaTls(const login_shared::VersionesTls& tls);

} // namespace lote
