#pragma once

#include "Plazo.h"

#include <string>
#include <vector>
#include <sys/socket.h>

namespace data_access {

struct DireccionIp {
    sockaddr_storage direccion{};
    socklen_t longitud = 0;
};

// Resolves `host` within the time left; throws ErrorConexion when the name
// does not exist or the resolver does not answer in time.
std::vector<DireccionIp> resuelveHost(const std::string& host, const Plazo& plazo);

} // namespace data_access
