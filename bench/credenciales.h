#pragma once

#include <string>

namespace bench {

// The stand-in's only login.
inline const std::string kUsuario = "sa";
inline const std::string kPassword = "Secr3t!";

} // namespace bench
