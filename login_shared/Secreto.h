#pragma once

#include <string>

namespace login_shared {

// Overwrites a secret's whole buffer before letting it go: a freed block
// keeps its bytes until reused, and a core file or a read of the memory
// would show them.
void borraSecreto(std::string& secreto) noexcept;

} // namespace login_shared
