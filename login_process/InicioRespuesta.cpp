#include "login_process/InicioRespuesta.h"

#include <algorithm>

namespace login_process {

namespace {

unsigned byte(std::string_view texto, std::size_t i) {
    return static_cast<unsigned char>(texto[i]);
}

// EOM, IGNORE, RESETCONNECTION and RESETCONNECTIONSKIPTRAN (MS-TDS 2.2.3.1.2).
constexpr unsigned kBitsEstado = 0x01 | 0x02 | 0x08 | 0x10;
// The largest packet size a server agrees to.
constexpr std::size_t kPaqueteMaximo = 32767;

} // namespace

InicioRespuesta clasificaInicio(std::string_view p) {
    if (p.empty())
        return InicioRespuesta::Nada;
    // Content types change_cipher_spec to application_data, then a 3.x version (RFC 8446, 5.1).
    if (byte(p, 0) >= 0x14 && byte(p, 0) <= 0x17 && (p.size() < 2 || byte(p, 1) == 0x03) &&
        (p.size() < 3 || byte(p, 2) <= 0x04))
        return InicioRespuesta::Tls;
    if (byte(p, 0) != 0x04 || (p.size() >= 2 && (byte(p, 1) & ~kBitsEstado) != 0))
        return InicioRespuesta::Otro;
    if (p.size() >= 4) {
        const std::size_t longitud = std::size_t(byte(p, 2)) << 8 | byte(p, 3);
        if (longitud < 8 || longitud > kPaqueteMaximo)
            return InicioRespuesta::Otro;
    }
    return InicioRespuesta::Tds;
}

std::string primeraLinea(std::string_view primeros, std::size_t maximo) {
    primeros.remove_prefix(std::min(primeros.size(), primeros.find_first_not_of("\r\n")));
    std::string_view linea = primeros.substr(0, primeros.find_first_of("\r\n"));
    if (linea.size() <= maximo)
        return std::string(linea);
    std::size_t corte = maximo;
    // Never half a UTF-8 character: back over its continuation bytes.
    while (corte > 0 && (byte(linea, corte) & 0xC0) == 0x80)
        --corte;
    return std::string(linea.substr(0, corte)) + "…";
}

} // namespace login_process
