#include "login_shared/DireccionServidor.h"

#include "login_shared/ErrorConexion.h"
#include "login_shared/TextoAscii.h"
#include "login_shared/Textos.h"

#include <algorithm>
#include <array>

namespace login_shared {

namespace {

struct Transporte {
    std::string_view prefijo;
    std::string_view nombre;
};

constexpr std::array<Transporte, 4> kOtrosTransportes{{
    {"np:", "canalizaciones con nombre"},
    {"lpc:", "memoria compartida"},
    {"admin:", "conexión de administrador dedicada"},
    {"via:", "VIA"},
}};

std::string recortado(std::string_view s) {
    return std::string(recorta(s));
}

bool empiezaPor(std::string_view s, std::string_view prefijo) {
    return s.size() >= prefijo.size() && igualSinMayusculas(s.substr(0, prefijo.size()), prefijo);
}

std::uint16_t leePuerto(const std::string& texto, const std::string& servidor) {
    const long puerto = leeEntero(recorta(texto)).value_or(0);
    if (puerto < 1 || puerto > 65535)
        throw ErrorConexion(textos::puertoNoValido(texto, servidor));
    return static_cast<std::uint16_t>(puerto);
}

// RFC 1035: 255 octets on the wire, 253 characters as written.
constexpr std::size_t kMaximoNombreDns = 253;

// Host names, IPv4 and IPv6 literals (with an optional %zone) only: the
// name ends up in a FreeTDS configuration file, so nothing else may pass.
bool esHostValido(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_' || c == ':' || c == '%';
    });
}

} // namespace

std::string DireccionServidor::describe() const {
    std::string d = host;
    if (!instancia.empty())
        d += "\\" + instancia;
    if (puerto != 0)
        d += ", puerto " + std::to_string(puerto);
    return d;
}

DireccionServidor leeDireccionServidor(const std::string& texto) {
    DireccionServidor d;
    std::string resto = recortado(texto);
    if (resto.empty())
        throw ErrorConexion(textos::servidorVacio());

    for (const Transporte& t : kOtrosTransportes)
        if (empiezaPor(resto, t.prefijo))
            throw ErrorConexion(textos::soloTcp(texto, std::string(t.nombre)));
    if (empiezaPor(resto, "tcp:"))
        resto = recortado(resto.substr(4));

    if (auto coma = resto.rfind(','); coma != std::string::npos) {
        d.puerto = leePuerto(resto.substr(coma + 1), texto);
        resto = recortado(resto.substr(0, coma));
    }
    if (auto barra = resto.find('\\'); barra != std::string::npos) {
        d.instancia = recortado(resto.substr(barra + 1));
        resto = recortado(resto.substr(0, barra));
        if (d.instancia.empty())
            throw ErrorConexion(textos::instanciaVacia(texto));
    }
    if (resto.size() >= 2 && resto.front() == '[' && resto.back() == ']') {
        resto = resto.substr(1, resto.size() - 2);
    } else if (std::count(resto.begin(), resto.end(), ':') == 1 && d.puerto == 0) {
        // host:port, as FreeTDS users write it; IPv6 literals have two colons or more.
        auto dosPuntos = resto.find(':');
        d.puerto = leePuerto(resto.substr(dosPuntos + 1), texto);
        resto = recortado(resto.substr(0, dosPuntos));
    }
    if (resto == "." || igualSinMayusculas(resto, "(local)"))
        resto = "localhost";
    if (!esHostValido(resto))
        throw ErrorConexion(textos::nombreServidorNoValido(texto));
    if (resto.size() > kMaximoNombreDns)
        throw ErrorConexion(textos::nombreServidorDemasiadoLargo(resto.size(), kMaximoNombreDns));
    d.host = resto;
    return d;
}

} // namespace login_shared
