#include "login_process/VersionPrelogin.h"

namespace login_process {

namespace {

constexpr unsigned char kOpcionVersion = 0x00;
constexpr unsigned char kFinOpciones = 0xFF;
constexpr std::size_t kEntrada = 5; // token, offset (2, BE), length (2, BE)
// Major, minor and build (2, BE); the sub-build that follows is not shown.
constexpr std::size_t kVersionMinima = 4;

unsigned byte(std::string_view texto, std::size_t i) {
    return static_cast<unsigned char>(texto[i]);
}

unsigned dosBytes(std::string_view texto, std::size_t i) {
    return byte(texto, i) << 8 | byte(texto, i + 1);
}

} // namespace

std::string versionDelPrelogin(std::string_view carga) {
    for (std::size_t i = 0; i < carga.size() && byte(carga, i) != kFinOpciones; i += kEntrada) {
        if (carga.size() - i < kEntrada)
            return {};
        if (byte(carga, i) != kOpcionVersion)
            continue;
        const std::size_t inicio = dosBytes(carga, i + 1);
        const std::size_t longitud = dosBytes(carga, i + 3);
        if (longitud < kVersionMinima || inicio > carga.size() || carga.size() - inicio < kVersionMinima)
            return {};
        return std::to_string(byte(carga, inicio)) + "." + std::to_string(byte(carga, inicio + 1)) + "." +
               std::to_string(dosBytes(carga, inicio + 2));
    }
    return {};
}

} // namespace login_process
