#pragma once

#include "tests/stand_in/config.h"

#include <optional>
#include <string>

namespace stand_in {

struct Login7 {
    LoginRecord record;           // `encrypted` is left for the caller, who knows the transport
    bool wantsExtensions = false; // fExtension (7.4): the client expects a FEATUREEXTACK
    std::string sspi;             // security token of an integrated login (NTLMSSP or GSSAPI), raw bytes
};

// Decodes a LOGIN7 payload (MS-TDS 2.2.6.4): the 86-byte fixed part of 7.0/7.1 and the 94-byte one
// of 7.2+ share every field the server needs. Returns nothing when the offsets do not fit.
std::optional<Login7> decodeLogin7(const std::string& payload);

} // namespace stand_in
