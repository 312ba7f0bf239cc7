#include "lote/Campos.h"
#include "lote/Salida.h"

#include <string>

namespace lote {

namespace {

std::string campoCsv(const std::string& valor) {
    if (valor.find_first_of(",\"\r\n") == std::string::npos)
        return valor;
    std::string r = "\"";
    for (char c : valor) {
        if (c == '"')
            r += '"';
        r += c;
    }
    return r + '"';
}

template <typename T> std::string opcional(const std::optional<T>& valor) {
    return valor ? std::to_string(*valor) : std::string();
}

} // namespace

void escribeCsv(std::ostream& salida, const std::vector<FilaServidor>& filas) {
    salida << "servidor";
    for (const probe::Generacion& g : probe::kGeneraciones)
        for (const char* campo :
             {"veredicto", "tds", "tls", "direccion", "puerto", "tiempo_ms", "descripcion"})
            salida << ',' << campo << '_' << g.version;
    salida << "\r\n";
    for (const FilaServidor& fila : filas) {
        salida << campoCsv(fila.entrada.servidor);
        for (const probe::ResultadoPasada& pasada : fila.pasadas) {
            const CamposPasada c = campos(pasada);
            salida << ',' << campoCsv(c.veredicto) << ',' << campoCsv(c.tds) << ',' << campoCsv(c.tls) << ','
                   << campoCsv(c.direccion) << ',' << opcional(c.puerto) << ',' << opcional(c.tiempoMs) << ','
                   << campoCsv(c.descripcion);
        }
        salida << "\r\n";
    }
}

} // namespace lote
