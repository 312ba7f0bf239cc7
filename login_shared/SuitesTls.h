#pragma once

#include <cstdint>
#include <string>

namespace login_shared {

// A TLS cipher suite by its IANA name ("TLS_RSA_WITH_AES_256_CBC_SHA"), or
// its code in hex ("0xC0A0") when it is none of the ones SQL Server's
// Schannel or GnuTLS speak.
std::string nombreSuiteTls(std::uint16_t codigo);

} // namespace login_shared
