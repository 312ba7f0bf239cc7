#pragma once

#include "login_shared/Proveedor.h"
#include "login_shared/Secreto.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace login_shared {

// What LOGIN7 carries of the user's: sent exactly, or refused before anything is sent.
struct Credenciales {
    std::string usuario;
    Secreto password;
    std::string baseDatos;
    std::string aplicacion;
    std::string estacion;
    bool integrada = false;
};

// The values above with the name a description gives each ("la contraseña"),
// for the checks that go through all of them.
std::array<std::pair<const char*, std::string*>, 5> valoresConNombre(Credenciales& c);

// Everything the login process needs for one open, already validated by the
// connection object. It travels over a socket, never through argv or the
// environment, so the password is seen by no other process.
struct PeticionLogin {
    int versionDbLib = 0;   // DBVERSION_7x
    std::string versionTds; // "7.2", as freetds.conf writes it
    std::string producto;   // "SQL Server 2005": the generation, for messages
    VersionTls tlsMinimo = VersionTls::Tls1_0;
    VersionTls tlsMaximo = VersionTls::Tls1_2;
    // The generation's GnuTLS priority string, and the suites it must offer with it.
    std::string prioridadTls;
    std::vector<std::uint16_t> suitesTls;
    bool cifradoObligatorio = false;   // the whole session inside TLS, or no login
    bool compruebaCertificado = false; // the server's certificate checked before LOGIN7 goes
    std::string archivoCa;             // PEM file of CAs trusted besides the system's; empty: none
    // Whether a login's summary says if a current driver would take the certificate (the window's
    // tooltip); a program that shows no summary spares the judgement.
    bool juzgaParaResumen = true;
    // For a probe of TLS versions: those a login already completed a handshake with, not tried again.
    std::vector<VersionTls> versionesTlsSabidas;
    std::string host;         // as typed, without brackets
    std::uint16_t puerto = 0; // 0: not given
    std::string instancia;
    Credenciales credenciales;
    // The budget of the whole open and what the caller already spent of it.
    std::optional<std::chrono::milliseconds> limite;
    std::chrono::milliseconds transcurrido{0};
};

// Names answered without asking the system's resolver (name -> IP literals),
// for tests: a name listed with no address stands for a resolver that never
// answers. Sent apart from the request, and only when a test sets one.
using TablaResolucion = std::vector<std::pair<std::string, std::vector<std::string>>>;

// What a login process takes from the open that asked for it rather than
// from the server it was forked from: where FreeTDS's files and the Kerberos
// cache are, and what relative paths are relative to.
struct Lanzamiento {
    std::vector<std::string> entorno; // "NOMBRE=valor"
    std::string directorio;
};
std::string serializa(const Lanzamiento& lanzamiento);
// Throws std::runtime_error on a malformed body.
Lanzamiento deserializaLanzamiento(const std::string& cuerpo);

// A request with the generation's fields filled from its provider (TDS, TLS
// versions and suites, its product's name); the server and the login are the caller's.
PeticionLogin peticionDeGeneracion(const Proveedor& proveedor);

std::string serializa(const PeticionLogin& peticion);
// Throws std::runtime_error on a malformed body.
PeticionLogin deserializa(const std::string& cuerpo);

std::string serializa(const TablaResolucion& tabla);
// Throws std::runtime_error on a malformed body.
TablaResolucion deserializaTabla(const std::string& cuerpo);

} // namespace login_shared
