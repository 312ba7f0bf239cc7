#include "login_process/ConversionTexto.h"

#include <cerrno>
#include <iconv.h>

namespace login_process {

std::optional<std::string> convierte(const std::string& texto, const char* desde, const char* hacia) {
    iconv_t cd = ::iconv_open(hacia, desde);
    if (cd == iconv_t(-1))
        return std::nullopt;
    std::string salida(texto.size() * 4 + 4, '\0');
    char* entrada = const_cast<char*>(texto.data());
    std::size_t quedaEntrada = texto.size();
    char* destino = salida.data();
    std::size_t quedaSalida = salida.size();
    const std::size_t r = ::iconv(cd, &entrada, &quedaEntrada, &destino, &quedaSalida);
    ::iconv_close(cd);
    if (r == std::size_t(-1) || quedaEntrada != 0)
        return std::nullopt;
    salida.resize(salida.size() - quedaSalida);
    return salida;
}

} // namespace login_process
