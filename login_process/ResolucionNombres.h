#pragma once

#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"

#include <string>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace login_process {

using login_shared::Plazo;
using login_shared::TablaResolucion;

struct DireccionIp {
    sockaddr_storage direccion{};
    socklen_t longitud = 0;
};

struct HostResuelto {
    std::vector<DireccionIp> direcciones;
    std::string nombreCanonico; // as the resolver names it; the name itself when it has none
};

// Resolves `host` within the time left; throws ErrorConexion when the name
// does not exist or the resolver does not answer in time.
HostResuelto resuelveHost(const std::string& host, const Plazo& plazo);

// The same from a fixed table, for tests (see TablaResolucion); with an
// empty one, resuelveHost.
HostResuelto resuelveConTabla(const std::string& host, const TablaResolucion& tabla, const Plazo& plazo);

// "10.0.0.5" or "fe80::1" for messages and for db-lib.
std::string textoDireccion(const DireccionIp& direccion);

} // namespace login_process
