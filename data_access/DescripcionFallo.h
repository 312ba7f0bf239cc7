#pragma once

#include "Plazo.h"
#include "SesionFreeTds.h"

#include <string>

namespace data_access {

// Turns what db-lib and the server reported about a failed login into one
// Spanish description: what failed and where, then the server's own
// messages verbatim.
std::string describeFallo(const Diagnostico& diagnostico, const std::string& destino, const Plazo& plazo,
                          bool integrada);

} // namespace data_access
