#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace data_access {

// The suites of `suites` that the GnuTLS in use leaves out of `prioridad`
// (its build lacks them, or its configuration removed them); all of them
// when it refuses the string.
std::vector<std::uint16_t> suitesAusentes(const std::string& prioridad,
                                          const std::vector<std::uint16_t>& suites);

} // namespace data_access
