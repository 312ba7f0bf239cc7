// libFuzzer target for login_process::LectorRespuestaLogin: whatever a server
// sends, the reader stays in bounds, keeps little, and reads the same
// however the bytes are split.

#include "fuzz/comprobaciones.h"
#include "login_process/LectorRespuestaLogin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using fuzz::exige;
using login_process::LectorRespuestaLogin;

// Bit 0 of the first byte: the rest is the raw stream, or a token stream
// this target frames into reply packets of (second byte % 64) + 1 bytes of
// payload, so that the fuzzer reaches the tokens without learning headers.
std::string flujo(const std::uint8_t* datos, std::size_t n) {
    if (n < 2 || !(datos[0] & 1))
        return std::string(reinterpret_cast<const char*>(datos) + std::min<std::size_t>(n, 1),
                           n - std::min<std::size_t>(n, 1));
    const std::size_t carga = datos[1] % 64 + 1;
    const std::string tokens(reinterpret_cast<const char*>(datos) + 2, n - 2);
    std::string bytes;
    for (std::size_t pos = 0; pos < tokens.size(); pos += carga) {
        const std::size_t k = std::min(carga, tokens.size() - pos);
        const std::size_t longitud = k + 8;
        bytes += std::string{'\x04',
                             pos + k == tokens.size() ? '\x01' : '\x00',
                             static_cast<char>(longitud >> 8),
                             static_cast<char>(longitud & 0xFF),
                             '\0',
                             '\0',
                             '\x01',
                             '\0'};
        bytes += tokens.substr(pos, k);
    }
    return bytes;
}

void compruebaLimites(const LectorRespuestaLogin& lector) {
    const auto& mensajes = lector.mensajes();
    const auto errores =
        std::count_if(mensajes.begin(), mensajes.end(), [](const auto& m) { return m.clase > 10; });
    exige(std::size_t(errores) <= LectorRespuestaLogin::kMensajesMaximos, "more errors kept than allowed");
    exige(mensajes.size() - std::size_t(errores) <= LectorRespuestaLogin::kMensajesMaximos,
          "more informational messages kept than allowed");
    for (const auto& m : mensajes) {
        exige(m.texto.size() <= LectorRespuestaLogin::kTextoMaximo, "text longer than the cut", m.texto);
        exige(fuzz::esUtf8Valido(m.texto), "text is not UTF-8", m.texto);
        exige(fuzz::esUtf8Valido(m.servidor), "server name is not UTF-8", m.servidor);
        exige(m.servidor.size() <= 255 * 3, "server name longer than 255 UTF-16 units allow", m.servidor);
    }
    exige((lector.estado() == LectorRespuestaLogin::Estado::Ilegible) == !lector.motivo().empty(),
          "a reason exactly when unreadable", lector.motivo());
    exige(fuzz::esUtf8Valido(lector.motivo()), "reason is not UTF-8", lector.motivo());
}

bool iguales(const LectorRespuestaLogin& a, const LectorRespuestaLogin& b) {
    if (a.estado() != b.estado() || a.motivo() != b.motivo() || a.versionTds() != b.versionTds() ||
        a.erroresOmitidos() != b.erroresOmitidos() || a.informativosOmitidos() != b.informativosOmitidos() ||
        a.mensajes().size() != b.mensajes().size())
        return false;
    for (std::size_t i = 0; i < a.mensajes().size(); ++i) {
        const auto &x = a.mensajes()[i], &y = b.mensajes()[i];
        if (x.numero != y.numero || x.estado != y.estado || x.clase != y.clase || x.texto != y.texto ||
            x.textoCortado != y.textoCortado || x.servidor != y.servidor)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t n) {
    const std::string bytes = flujo(datos, n);

    LectorRespuestaLogin entero;
    entero.recibe(bytes.data(), bytes.size());
    compruebaLimites(entero);

    // Chunks of 1 to 17 bytes, chosen by the input.
    const std::size_t trozo = n > 0 ? datos[0] / 2 % 17 + 1 : 1;
    LectorRespuestaLogin troceado;
    for (std::size_t pos = 0; pos < bytes.size(); pos += trozo)
        troceado.recibe(bytes.data() + pos, std::min(trozo, bytes.size() - pos));
    exige(iguales(entero, troceado), "reads differently when split");
    return 0;
}
