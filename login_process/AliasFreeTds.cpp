#include "login_process/AliasFreeTds.h"

#include "login_shared/TextoAscii.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace login_process {

using login_shared::igualSinMayusculas;
using login_shared::minusculaAscii;

namespace {

// FreeTDS reads with fgets into 256 bytes: a longer line goes on as another line.
constexpr std::size_t kLineaFreeTds = 255;

struct Opcion {
    std::string nombre; // lower case, blanks collapsed; "[section]" for a section header
    std::string valor;
};

bool blanco(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Blanks collapsed to one space, none at either end, as FreeTDS reads them.
std::string colapsa(std::string_view texto, bool minusculas) {
    std::string r;
    char previo = 0;
    for (char c : texto) {
        if (!blanco(c)) {
            if (blanco(previo) && !r.empty())
                r += ' ';
            r += minusculas ? minusculaAscii(c) : c;
        }
        previo = c;
    }
    return r;
}

std::optional<Opcion> leeLinea(std::string_view linea) {
    std::size_t i = 0;
    while (i < linea.size() && blanco(linea[i]))
        ++i;
    if (i < linea.size() && (linea[i] == ';' || linea[i] == '#'))
        return std::nullopt;
    const std::size_t igual = linea.find('=', i);
    Opcion o;
    o.nombre =
        colapsa(linea.substr(i, igual == std::string_view::npos ? std::string_view::npos : igual - i), true);
    if (o.nombre.empty())
        return std::nullopt;
    if (igual != std::string_view::npos) {
        std::string_view valor = linea.substr(igual + 1);
        valor = valor.substr(0, valor.find_first_of(";#"));
        o.valor = colapsa(valor, false);
    }
    return o;
}

std::vector<Opcion> leeArchivo(const std::string& ruta) {
    std::vector<Opcion> opciones;
    std::ifstream archivo(ruta);
    std::string linea;
    while (std::getline(archivo, linea))
        for (std::size_t pos = 0; pos < linea.size() || pos == 0; pos += kLineaFreeTds) {
            if (auto o = leeLinea(std::string_view(linea).substr(pos, kLineaFreeTds)))
                opciones.push_back(*o);
            if (linea.size() <= kLineaFreeTds)
                break;
        }
    return opciones;
}

std::string nombreSeccion(const Opcion& o) {
    if (o.nombre.empty() || o.nombre[0] != '[')
        return {};
    return o.nombre.substr(1, o.nombre.find(']') == std::string::npos ? std::string::npos
                                                                      : o.nombre.find(']') - 1);
}

void aplica(const Opcion& o, AliasFreeTds& a) {
    if (o.nombre == "host")
        a.host = o.valor;
    else if (o.nombre == "port") {
        // atoi, as FreeTDS reads it: "1433x" is 1433.
        const long puerto = std::atol(o.valor.c_str());
        if (puerto > 0 && puerto <= 65535)
            a.puerto = std::uint16_t(puerto);
    } else if (o.nombre == "instance")
        a.instancia = o.valor;
    else if (o.nombre == "encryption")
        a.cifrado = o.valor;
    else if (o.nombre == "spn")
        a.spn = o.valor;
    else if (o.nombre == "realm")
        a.realm = o.valor;
    else if (o.nombre == "ca file")
        a.caFile = o.valor;
    else if (o.nombre == "crl file")
        a.crlFile = o.valor;
    else if (o.nombre == "check certificate hostname")
        a.compruebaNombreCertificado = o.valor;
}

// Applies the options of `seccion` in `opciones`; true when the section is there.
bool aplicaSeccion(const std::vector<Opcion>& opciones, std::string_view seccion, AliasFreeTds& a) {
    bool dentro = false, hallada = false;
    for (const Opcion& o : opciones) {
        if (o.nombre[0] == '[') {
            dentro = igualSinMayusculas(nombreSeccion(o), seccion);
            hallada = hallada || dentro;
        } else if (dentro)
            aplica(o, a);
    }
    return hallada;
}

} // namespace

std::vector<std::string> archivosConfiguracionFreeTds() {
    std::vector<std::string> archivos;
    if (const char* conf = std::getenv("FREETDSCONF"))
        archivos.emplace_back(conf);
    if (const char* raiz = std::getenv("FREETDS"))
        archivos.push_back(std::string(raiz) + "/etc/freetds.conf");
    if (const char* home = std::getenv("HOME"))
        archivos.push_back(std::string(home) + "/.freetds.conf");
    archivos.emplace_back("/etc/freetds/freetds.conf");
    return archivos;
}

std::optional<AliasFreeTds> buscaAliasFreeTds(const std::string& nombre,
                                              const std::vector<std::string>& archivos) {
    if (nombre.empty() || igualSinMayusculas(nombre, "global"))
        return std::nullopt;
    AliasFreeTds alias;
    for (const std::string& ruta : archivos) {
        const std::vector<Opcion> opciones = leeArchivo(ruta);
        aplicaSeccion(opciones, "global", alias);
        if (aplicaSeccion(opciones, colapsa(nombre, true), alias)) {
            alias.archivo = ruta;
            return alias;
        }
    }
    return std::nullopt;
}

} // namespace login_process
