#pragma once

#include "login_shared/Secreto.h"

#include <optional>
#include <string>

namespace lote {

// The environment variable a password may come in, for scripts.
inline constexpr char kVariableContrasena[] = "TARPELINO_PASSWORD";

// The password in TARPELINO_PASSWORD, if set. The variable is wiped and
// removed, so that no login process started later inherits it. Call it
// before any thread starts: the environment is not safe to change beside them.
std::optional<login_shared::Secreto> tomaContrasenaDelEntorno();

// Asks for the password on the controlling terminal, without echo. None
// when there is no terminal to ask on, or when reading fails.
std::optional<login_shared::Secreto> pideContrasena(const std::string& pregunta);

} // namespace lote
