// libFuzzer target for login_process::leeHandshakeServidor: whatever a server
// sends during the TLS handshake, the parser stays in bounds, keeps no more
// than it was given, and reads from a cut-short copy either nothing or the
// same as from the whole.

#include "fuzz/comprobaciones.h"
#include "login_process/HandshakeServidor.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using fuzz::exige;
using login_process::HandshakeServidor;
using login_process::leeHandshakeServidor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t n) {
    const std::string_view registros(reinterpret_cast<const char*>(datos), n);
    const HandshakeServidor entero = leeHandshakeServidor(registros);
    exige(entero.certificado.size() <= n, "certificate longer than the input");
    exige(entero.cadena.size() <= login_process::kMaximoCadena, "a chain longer than its bound");
    exige(entero.cadena.empty() ? entero.certificado.empty() : entero.certificado == entero.cadena.front(),
          "the certificate is not the chain's first");
    std::size_t total = 0;
    for (const auto& der : entero.cadena)
        total += der.size();
    exige(total <= n, "a chain longer than the input");

    // Cut where the first byte says: no message whole in the cut reads differently.
    const std::size_t corte = n > 0 ? n * datos[0] / 256 : 0;
    const HandshakeServidor parte = leeHandshakeServidor(registros.substr(0, corte));
    exige(parte.suite == 0 || parte.suite == entero.suite, "a cut-short copy reads another suite");
    exige(parte.certificado.empty() || parte.certificado == entero.certificado,
          "a cut-short copy reads another certificate", parte.certificado);
    exige(parte.cadena.empty() || parte.cadena == entero.cadena, "a cut-short copy reads another chain");
    return 0;
}
