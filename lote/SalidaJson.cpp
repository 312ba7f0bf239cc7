#include "lote/Campos.h"
#include "lote/Salida.h"

#include <nlohmann/json.hpp>

namespace lote {

namespace {

using Json = nlohmann::ordered_json;

Json textoONulo(const std::string& valor) {
    return valor.empty() ? Json(nullptr) : Json(valor);
}

template <typename T> Json opcional(const std::optional<T>& valor) {
    return valor ? Json(*valor) : Json(nullptr);
}

} // namespace

void escribeJson(std::ostream& salida, const std::vector<FilaServidor>& filas) {
    Json lista = Json::array();
    for (const FilaServidor& fila : filas) {
        Json objeto = {{"servidor", fila.entrada.servidor}};
        for (std::size_t i = 0; i < probe::kGeneraciones.size(); ++i) {
            const CamposPasada c = campos(fila.pasadas[i]);
            objeto[probe::kGeneraciones[i].version] = {
                {"veredicto", c.veredicto},
                {"tds", textoONulo(c.tds)},
                {"tls", textoONulo(c.tls)},
                {"direccion", textoONulo(c.direccion)},
                {"puerto", opcional(c.puerto)},
                {"tiempo_ms", opcional(c.tiempoMs)},
                {"descripcion", textoONulo(c.descripcion)},
            };
        }
        lista.push_back(std::move(objeto));
    }
    // Bytes that are not UTF-8 (none should reach here) become U+FFFD rather than ending the run.
    salida << lista.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace lote
