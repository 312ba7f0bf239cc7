#pragma once

#include "tests/stand_in/config.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace stand_in {

// NTLMSSP messages of the server side (MS-NLMP 2.2.1).

// A CHALLENGE (type 2) for a server named `serverName`, with the target information (AV pairs)
// whose presence makes clients answer with NTLMv2, and the version field.
std::string ntlmChallenge(const std::string& serverName, const std::array<std::uint8_t, 8>& serverChallenge);

// Decodes an AUTHENTICATE (type 3); nothing if it is not one or its fields do not fit.
// `encrypted` is left for the caller.
std::optional<NtlmAuthenticateRecord> decodeNtlmAuthenticate(const std::string& message);

} // namespace stand_in
