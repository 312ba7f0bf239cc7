// libFuzzer target for data_access::ConnectionString::parse.

#include "data_access/Conexion.h"
#include "data_access/ConnectionString.h"
#include "fuzz/comprobaciones.h"
#include "probe/cadenaConexion.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

using data_access::ConnectionString;
using login_shared::ErrorConexion;
using Pares = std::vector<std::pair<std::string, std::string>>;
using fuzz::exige;
using fuzz::falla;

// The parser's own blank set; "\v" and "\f" are not in it.
bool esBlanco(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char minuscula(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool igualesSinMayusculas(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (minuscula(a[i]) != minuscula(b[i]))
            return false;
    return true;
}

struct Resultado {
    std::optional<ConnectionString> cadena;
    std::string error;
};

// Only ErrorConexion may leave the parser.
Resultado analiza(std::string_view texto) {
    Resultado r;
    try {
        r.cadena = ConnectionString::parse(texto);
    } catch (const ErrorConexion& e) {
        r.error = e.what();
    } catch (const std::exception& e) {
        falla((std::string("exception other than ErrorConexion: ") + typeid(e).name()).c_str(), e.what());
    } catch (...) {
        falla("non-std exception");
    }
    return r;
}

// "=" inside a key is written "==".
std::string claveEscrita(const std::string& clave) {
    std::string s;
    for (char c : clave) {
        s += c;
        if (c == '=')
            s += '=';
    }
    return s;
}

// As the probe writes its connection strings: values quoted only when needed.
std::string componeComoLaSonda(const Pares& pares) {
    std::string s;
    for (const auto& [clave, valor] : pares)
        s += claveEscrita(clave) + "=" + probe::valorCadena(valor) + ";";
    return s;
}

// Every value in single quotes with blanks around, the other documented form.
std::string componeEntreApostrofos(const Pares& pares) {
    std::string s = " ;";
    for (const auto& [clave, valor] : pares) {
        s += " " + claveEscrita(clave) + " = '";
        for (char c : valor) {
            s += c;
            if (c == '\'')
                s += '\'';
        }
        s += "' ;\t";
    }
    return s;
}

void compruebaIdaYVuelta(const Pares& pares, const std::string& compuesta, const char* forma) {
    const Resultado r = analiza(compuesta);
    if (!r.cadena)
        falla(forma, "recomposed string refused: " + compuesta + " / " + r.error);
    if (r.cadena->pairs() != pares)
        falla(forma, "recomposed string reads back different pairs: " + compuesta);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view texto(reinterpret_cast<const char*>(data), size);
    const bool entradaUtf8 = fuzz::esUtf8Valido(texto);

    const Resultado primero = analiza(texto);
    const Resultado segundo = analiza(texto);
    exige(primero.cadena.has_value() == segundo.cadena.has_value() && primero.error == segundo.error &&
              (!primero.cadena || primero.cadena->pairs() == segundo.cadena->pairs()),
          "parse is not deterministic");

    if (!primero.cadena) {
        fuzz::compruebaDescripcionError(primero.error, entradaUtf8);
        return 0;
    }

    const ConnectionString& cadena = *primero.cadena;
    const Pares& pares = cadena.pairs();
    for (const auto& [clave, valor] : pares) {
        exige(!clave.empty(), "empty key");
        exige(!esBlanco(clave.front()) && !esBlanco(clave.back()), "key not trimmed", clave);
        exige(clave.find(';') == std::string::npos, "key holds a ';'", clave);
        exige(clave.size() <= size && valor.size() <= size, "key or value longer than the input");
    }

    // value() is the last pair with an equal key, ASCII case ignored, blanks
    // around the asked key ignored. Each lookup is linear: a few keys suffice.
    const std::size_t revisadas = std::min<std::size_t>(pares.size(), 8);
    for (std::size_t n = 0; n < revisadas; ++n) {
        const std::string& clave = pares[n % 2 ? pares.size() - 1 - n / 2 : n / 2].first;
        std::string esperado;
        for (const auto& [k, v] : pares)
            if (igualesSinMayusculas(k, clave))
                esperado = v;
        std::string mayusculas = clave;
        for (char& c : mayusculas)
            if (c >= 'a' && c <= 'z')
                c = char(c - 'a' + 'A');
        for (const std::string& pedida : {clave, mayusculas, " \t" + clave + "\r\n"}) {
            const auto v = cadena.value(pedida);
            exige(v.has_value() && *v == esperado, "value() is not the last pair with that key", clave);
        }
    }
    // No key holds a ";", so this one is never there.
    exige(!cadena.value("Server;").has_value(), "value() finds an absent key");

    // Recomposed, the pairs read back the same.
    compruebaIdaYVuelta(pares, componeComoLaSonda(pares), "round trip with the probe's quoting");
    compruebaIdaYVuelta(pares, componeEntreApostrofos(pares), "round trip with every value in single quotes");
    return 0;
}
