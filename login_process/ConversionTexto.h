#pragma once

#include <optional>
#include <string>

namespace login_process {

// `texto` from one character set to another (iconv names); nothing when a
// character has no place in the target set.
std::optional<std::string> convierte(const std::string& texto, const char* desde, const char* hacia);

} // namespace login_process
