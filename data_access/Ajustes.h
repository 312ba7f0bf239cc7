#pragma once

#include "login_shared/Secreto.h"

#include <chrono>
#include <optional>
#include <string>

namespace data_access {

class ConnectionString;

// What one open needs, read from a connection string with its synonyms
// resolved (Data Source = Server, UID = User ID, ...).
struct Ajustes {
    std::string proveedor;
    std::string servidor;
    std::string baseDatos;
    std::string usuario;
    login_shared::Secreto password;
    bool seguridadIntegrada = false;
    // Empty: no limit ("Connect Timeout=0").
    std::optional<std::chrono::milliseconds> tiempoEspera;
    std::string aplicacion = "Tarpelino";
    std::string estacion;
};

// Throws ErrorConexion for values it cannot use (a timeout that is not a
// number, a missing server, ...). Keys it does not know are ignored.
Ajustes leeAjustes(const ConnectionString& cadena, std::chrono::milliseconds tiempoEsperaPorDefecto);

} // namespace data_access
