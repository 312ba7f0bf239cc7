#pragma once

#include "probe/pasadaConexion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lote {

// One pass as every output format lists it.
struct CamposPasada {
    std::string veredicto; // the window's label: "Conexión CORRECTA."
    std::string tds;       // agreed version, "7.3"; empty unless it logged in
    std::string tls;       // "1.2", "ninguno" without encryption; empty unless it logged in
    std::string direccion; // address that took the connection; empty unless it logged in
    std::optional<std::uint16_t> puerto;
    std::optional<long long> tiempoMs; // how long the open took
    std::string descripcion;           // the window's error box
};

CamposPasada campos(const probe::ResultadoPasada& pasada);

} // namespace lote
