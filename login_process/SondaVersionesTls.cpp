#include "login_process/SondaVersionesTls.h"

#include "login_process/ClienteTls.h"
#include "login_process/SondaTds8.h"

#include <algorithm>
#include <array>
#include <memory>
#include <netinet/in.h>

namespace login_process {

using login_shared::VersionesTls;

namespace {

// A PRELOGIN that asks for encryption: VERSION, ENCRYPTION (ON), terminator (MS-TDS 2.2.6.5).
constexpr unsigned char kPrelogin[] = {0x12, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x01, 0x00, // header
                                       0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                                       0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01};
constexpr unsigned char kOpcionCifrado = 0x01;
constexpr unsigned char kFinOpciones = 0xFF;
constexpr unsigned char kCifradoNoAdmitido = 0x02;

struct Version {
    const char* nombre;
    const char* prioridad;
};
constexpr std::array<Version, 3> kVersiones{{
    {"1.0", "NORMAL:%COMPAT:+3DES-CBC:+ARCFOUR-128:+MD5:-VERS-ALL:+VERS-TLS1.0"},
    {"1.1", "NORMAL:%COMPAT:+3DES-CBC:+ARCFOUR-128:+MD5:-VERS-ALL:+VERS-TLS1.1"},
    {"1.2", "NORMAL:%COMPAT:+3DES-CBC:+ARCFOUR-128:+MD5:-VERS-ALL:+VERS-TLS1.2"},
}};

enum class Intento {
    Completado,
    Rechazado,     // it answered in TLS and did not complete the handshake
    SinCifrado,    // ENCRYPT_NOT_SUP: no certificate, or encryption turned off
    CerroPrelogin, // closed or reset on the PRELOGIN in clear, or answered no TDS
    SinConexion,   // no TCP connection
    Agotado,       // the time ran out
};

// The ENCRYPTION option of a PRELOGIN reply; none when the table does not hold together.
std::optional<unsigned char> cifradoDe(const std::string& carga) {
    for (std::size_t i = 0; i + 5 <= carga.size() && static_cast<unsigned char>(carga[i]) != kFinOpciones;
         i += 5) {
        if (static_cast<unsigned char>(carga[i]) != kOpcionCifrado)
            continue;
        const std::size_t inicio = std::size_t(static_cast<unsigned char>(carga[i + 1])) << 8 |
                                   static_cast<unsigned char>(carga[i + 2]);
        if (inicio >= carga.size())
            return std::nullopt;
        return static_cast<unsigned char>(carga[inicio]);
    }
    return std::nullopt;
}

// On `cliente`'s connection, made already, or made here when it is not.
Intento intenta(ClienteTls& cliente, bool conectado, const Version& version) {
    if (!conectado && !cliente.conecta())
        return cliente.agotado() ? Intento::Agotado : Intento::SinConexion;
    if (!cliente.enviaTodo(reinterpret_cast<const char*>(kPrelogin), sizeof kPrelogin))
        return cliente.agotado() ? Intento::Agotado : Intento::CerroPrelogin;
    const std::optional<std::string> respuesta = cliente.recibePaquete();
    if (!respuesta)
        return cliente.agotado() ? Intento::Agotado : Intento::CerroPrelogin;
    const std::optional<unsigned char> cifrado = cifradoDe(*respuesta);
    if (!cifrado)
        return Intento::CerroPrelogin;
    if (*cifrado == kCifradoNoAdmitido)
        return Intento::SinCifrado;
    if (!cliente.preparaTls(version.prioridad, nullptr, ClienteTls::Transporte::EnPrelogin))
        return Intento::Rechazado;
    const int r = cliente.handshake();
    if (r == 0)
        return Intento::Completado;
    return r == GNUTLS_E_TIMEDOUT || cliente.agotado() ? Intento::Agotado : Intento::Rechazado;
}

// A connection to the first address that takes one, as the relay's would: the first attempt's.
std::unique_ptr<ClienteTls> alcanzable(const std::vector<DireccionIp>& direcciones, std::uint16_t puerto,
                                       Plazo::Reloj::time_point limite, DireccionIp& extremo) {
    for (DireccionIp d : direcciones) {
        if (d.direccion.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(d.direccion).sin_port = htons(puerto);
        else
            reinterpret_cast<sockaddr_in6&>(d.direccion).sin6_port = htons(puerto);
        auto conexion = std::make_unique<ClienteTls>(d, limite);
        if (conexion->conecta()) {
            extremo = d;
            return conexion;
        }
    }
    return nullptr;
}

std::string milisegundos(const Plazo& plazo) {
    return std::to_string(plazo.transcurrido().count()) + " ms";
}

} // namespace

VersionesTls sondeaVersionesTls(const std::vector<DireccionIp>& direcciones, std::uint16_t puerto,
                                const std::string& destino, const Plazo& plazo,
                                const std::vector<login_shared::VersionTls>& sabidas) {
    const auto limite = Plazo::Reloj::now() + plazo.restante();
    VersionesTls v;
    DireccionIp extremo;
    std::unique_ptr<ClienteTls> conectado = alcanzable(direcciones, puerto, limite, extremo);
    if (!conectado) {
        v.motivo =
            Plazo::Reloj::now() >= limite
                ? "El servidor " + destino + " no aceptó la conexión TCP en " + milisegundos(plazo) + "."
                : "No se pudo conectar con el servidor " + destino + " (conexión TCP rechazada).";
        return v;
    }
    bool rechazado = false;
    for (std::size_t i = 0; i < kVersiones.size(); ++i) {
        const Version& version = kVersiones[i];
        if (std::find(sabidas.begin(), sabidas.end(), login_shared::VersionTls(i)) != sabidas.end()) {
            v.aceptadas.push_back(version.nombre);
            continue;
        }
        // The first attempt on the connection that found the server; each other on one of its own.
        std::unique_ptr<ClienteTls> cliente = std::move(conectado);
        const bool yaConectado = cliente != nullptr;
        if (!cliente)
            cliente = std::make_unique<ClienteTls>(extremo, limite);
        switch (intenta(*cliente, yaConectado, version)) {
        case Intento::Completado:
            v.aceptadas.push_back(version.nombre);
            continue;
        case Intento::Rechazado:
            rechazado = true;
            continue;
        case Intento::SinCifrado:
            v.motivo = "El servidor " + destino +
                       " no admite cifrado: responde ENCRYPT_NOT_SUP al PRELOGIN (no tiene certificado, o "
                       "el cifrado está desactivado).";
            return v;
        case Intento::CerroPrelogin: {
            // Strict encryption closes on a PRELOGIN in clear: TLS from the first byte instead.
            std::uint16_t acordada = 0;
            if (sondeaTds8(extremo, plazo, &acordada) == RespuestaTds8::Tds8 && acordada >= 0x0301) {
                v.aceptadas.push_back("1." + std::to_string(acordada - 0x0301) + " (estricto)");
                return v;
            }
            v.motivo = "El servidor " + destino +
                       " cerró la conexión ante el PRELOGIN sin responderlo como un SQL Server, y no "
                       "completó tampoco el protocolo de enlace estricto (TDS 8.0).";
            return v;
        }
        case Intento::SinConexion:
            v.motivo = "El servidor " + destino + " dejó de aceptar conexiones TCP durante la comprobación.";
            return v;
        case Intento::Agotado:
            v.motivo = "El servidor " + destino + " no completó la comprobación de las versiones de TLS en " +
                       milisegundos(plazo) + ".";
            return v;
        }
    }
    if (v.aceptadas.empty() && rechazado)
        v.motivo = "El servidor " + destino +
                   " no completó el protocolo de enlace TLS con ninguna de las versiones 1.0, 1.1 y 1.2.";
    return v;
}

} // namespace login_process
