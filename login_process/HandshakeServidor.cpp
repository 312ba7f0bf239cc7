#include "login_process/HandshakeServidor.h"

#include <algorithm>

namespace login_process {

namespace {

constexpr unsigned char kRegistroHandshake = 0x16;
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kCertificate = 11;

std::size_t numero(std::string_view d, std::size_t pos, std::size_t bytes) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        n = n << 8 | static_cast<unsigned char>(d[pos + i]);
    return n;
}

// The payload of the handshake records up to the first record of another
// type (ChangeCipherSpec: what follows is encrypted) or the first cut one.
std::string mensajesHandshake(std::string_view registros) {
    std::string mensajes;
    std::size_t pos = 0;
    while (registros.size() - pos >= 5 && static_cast<unsigned char>(registros[pos]) == kRegistroHandshake) {
        const std::size_t longitud = numero(registros, pos + 3, 2);
        const std::size_t disponible = std::min(longitud, registros.size() - pos - 5);
        mensajes.append(registros.substr(pos + 5, disponible));
        if (disponible < longitud)
            break;
        pos += 5 + longitud;
    }
    return mensajes;
}

std::uint16_t suiteDe(std::string_view hello) {
    // version (2), random (32), session_id (1 + n), cipher_suite (2)
    if (hello.size() < 35)
        return 0;
    const std::size_t sesion = static_cast<unsigned char>(hello[34]);
    if (hello.size() < 35 + sesion + 2)
        return 0;
    return std::uint16_t(numero(hello, 35 + sesion, 2));
}

std::vector<std::string> cadenaDe(std::string_view certificados) {
    // certificate_list (3 + n), each certificate (3 + n)
    std::vector<std::string> cadena;
    if (certificados.size() < 3)
        return cadena;
    const std::size_t lista = numero(certificados, 0, 3);
    if (lista > certificados.size() - 3)
        return cadena;
    const std::string_view resto = certificados.substr(3, lista);
    std::size_t pos = 0;
    while (cadena.size() < kMaximoCadena && resto.size() - pos >= 3) {
        const std::size_t longitud = numero(resto, pos, 3);
        if (longitud == 0 || longitud > resto.size() - pos - 3)
            break;
        cadena.emplace_back(resto.substr(pos + 3, longitud));
        pos += 3 + longitud;
    }
    return cadena;
}

} // namespace

HandshakeServidor leeHandshakeServidor(std::string_view registros) {
    const std::string mensajes = mensajesHandshake(registros);
    const std::string_view m(mensajes);
    HandshakeServidor h;
    std::size_t pos = 0;
    while (m.size() - pos >= 4) {
        const auto tipo = static_cast<unsigned char>(m[pos]);
        const std::size_t longitud = numero(m, pos + 1, 3);
        if (longitud > m.size() - pos - 4)
            break;
        const std::string_view cuerpo = m.substr(pos + 4, longitud);
        if (tipo == kServerHello && h.suite == 0)
            h.suite = suiteDe(cuerpo);
        else if (tipo == kCertificate && h.cadena.empty())
            h.cadena = cadenaDe(cuerpo);
        pos += 4 + longitud;
    }
    if (!h.cadena.empty())
        h.certificado = h.cadena.front();
    return h;
}

} // namespace login_process
