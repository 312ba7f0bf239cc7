// libFuzzer target for login_shared::leeDireccionServidor.

#include "data_access/Conexion.h"
#include "fuzz/comprobaciones.h"
#include "login_shared/DireccionServidor.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

namespace {

using fuzz::exige;
using fuzz::falla;
using login_shared::DireccionServidor;
using login_shared::ErrorConexion;
using login_shared::leeDireccionServidor;

// A port is 0 (not given) or 1..65535 by its type alone; keep it that way.
static_assert(std::is_same_v<decltype(DireccionServidor::puerto), std::uint16_t>);

struct Resultado {
    std::optional<DireccionServidor> direccion;
    std::string error;
};

bool iguales(const DireccionServidor& a, const DireccionServidor& b) {
    return a.host == b.host && a.puerto == b.puerto && a.instancia == b.instancia;
}

// Only ErrorConexion may leave the parser.
Resultado analiza(const std::string& texto) {
    Resultado r;
    try {
        r.direccion = leeDireccionServidor(texto);
    } catch (const ErrorConexion& e) {
        r.error = e.what();
    } catch (const std::exception& e) {
        falla((std::string("exception other than ErrorConexion: ") + typeid(e).name()).c_str(), e.what());
    } catch (...) {
        falla("non-std exception");
    }
    return r;
}

// What the parser admits in a host: it ends up in a FreeTDS configuration file.
bool caracterDeHost(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':' || c == '%';
}

bool blancoDelParser(char c) {
    return c == ' ' || c == '\t';
}

// The shortest text that names the same server: brackets keep a host with a
// colon from being read as host:port.
std::string formaCanonica(const DireccionServidor& d) {
    std::string s = d.host.find(':') != std::string::npos ? "[" + d.host + "]" : d.host;
    if (!d.instancia.empty())
        s += "\\" + d.instancia;
    if (d.puerto != 0)
        s += "," + std::to_string(d.puerto);
    return s;
}

void compruebaReescrita(const DireccionServidor& d, const std::string& texto, const char* forma) {
    const Resultado r = analiza(texto);
    if (!r.direccion)
        falla(forma, "refused: " + texto + " / " + r.error);
    if (!iguales(*r.direccion, d))
        falla(forma, "reads back as another server: " + texto);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string texto(reinterpret_cast<const char*>(data), size);
    const bool entradaUtf8 = fuzz::esUtf8Valido(texto);

    const Resultado primero = analiza(texto);
    const Resultado segundo = analiza(texto);
    exige(primero.direccion.has_value() == segundo.direccion.has_value() && primero.error == segundo.error &&
              (!primero.direccion || iguales(*primero.direccion, *segundo.direccion)),
          "leeDireccionServidor is not deterministic");

    if (!primero.direccion) {
        fuzz::compruebaDescripcionError(primero.error, entradaUtf8);
        return 0;
    }

    const DireccionServidor& d = *primero.direccion;
    exige(!d.host.empty(), "empty host");
    for (unsigned char c : d.host)
        exige(caracterDeHost(c), "host holds a character the parser does not admit", d.host);
    exige(d.host != "." && d.host != "(local)", "local alias not turned into localhost", d.host);
    if (!d.instancia.empty())
        exige(!blancoDelParser(d.instancia.front()) && !blancoDelParser(d.instancia.back()),
              "instance not trimmed", d.instancia);
    if (d.puerto != 0)
        exige(texto.find(std::to_string(d.puerto)) != std::string::npos, "port not written in the input",
              texto);

    std::string descripcion;
    try {
        descripcion = d.describe();
    } catch (...) {
        falla("describe() throws", texto);
    }
    exige(descripcion.rfind(d.host, 0) == 0, "describe() does not start with the host", descripcion);
    if (entradaUtf8)
        exige(fuzz::esUtf8Valido(descripcion), "describe() is not UTF-8 for UTF-8 input", descripcion);

    const std::string canonica = formaCanonica(d);
    compruebaReescrita(d, canonica, "canonical form");
    compruebaReescrita(d, " tcp: " + canonica + "\t", "canonical form with tcp: and blanks");
    return 0;
}
