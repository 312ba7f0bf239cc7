#pragma once

#include "login_shared/Peticion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_process {

using login_shared::PeticionLogin;

// The suites GnuTLS offers for `prioridad`, in its order; nothing when it refuses the string.
std::optional<std::vector<std::uint16_t>> suitesOfrecidas(const std::string& prioridad);

// The suites of `suites` that the GnuTLS in use leaves out of `prioridad`
// (its build lacks them, or its configuration removed them); all of them
// when it refuses the string.
std::vector<std::uint16_t> suitesAusentes(const std::string& prioridad,
                                          const std::vector<std::uint16_t>& suites);

// Whether the generation's client could have agreed that version and suite:
// the version in its range and the suite among those its priority offers.
bool acordadoPorSuEpoca(const PeticionLogin& peticion, std::uint16_t versionTls, std::uint16_t suite);

} // namespace login_process
