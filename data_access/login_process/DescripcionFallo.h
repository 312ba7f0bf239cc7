#pragma once

#include "data_access/PeticionLogin.h"
#include "data_access/Plazo.h"
#include "data_access/login_process/Relevo.h"
#include "data_access/login_process/SesionFreeTds.h"

#include <string>

namespace data_access {

// Turns what the relay saw, what db-lib reported and what the server said
// about a failed login into one Spanish description: what failed and where,
// then the server's own messages verbatim. The relay is believed first: it
// saw the network, db-lib only its side of the loopback.
std::string describeFallo(const Diagnostico& diagnostico, const Relevo::Resultado& red,
                          const std::string& destino, const Plazo& plazo, const PeticionLogin& peticion);

} // namespace data_access
