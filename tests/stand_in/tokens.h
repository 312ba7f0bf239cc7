#pragma once

#include "tests/stand_in/config.h"

#include <cstdint>
#include <string>

namespace stand_in {

// Token encoders for the server's replies (MS-TDS 2.2.7). Widths that changed in TDS 7.2 (DONE row
// count, INFO/ERROR line number) follow the version the server acknowledged, as clients expect.
struct TokenWidths {
    bool wide = true; // TDS 7.2 or later

    static TokenWidths forVersion(std::uint32_t agreedVersion) { return {agreedVersion >= 0x72000000}; }
};

namespace done_status {
constexpr std::uint16_t final = 0x0000;
constexpr std::uint16_t error = 0x0002;
constexpr std::uint16_t attention = 0x0020;
} // namespace done_status

namespace envchange {
constexpr std::uint8_t database = 1;
constexpr std::uint8_t language = 2;
constexpr std::uint8_t packetSize = 4;
constexpr std::uint8_t collation = 7;
} // namespace envchange

struct Message {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 0; // "class"; 0..10 travels as INFO, above as ERROR
    std::string text;
    std::string serverName;
    std::uint32_t line = 1;
};

std::string envChangeText(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
// SQL_Latin1_General_CP1_CI_AS, the default collation of an English-locale installation.
std::string envChangeDefaultCollation();
std::string messageToken(const Message& message, TokenWidths widths);
std::string loginAckToken(std::uint32_t agreedVersion, ProductVersion product);
// A LOGINACK carrying `wireVersion` as it is, whatever was agreed: a server that answers a version the
// client did not ask for, or one no SQL Server sends.
std::string loginAckTokenWithWireVersion(std::uint32_t wireVersion, ProductVersion product);
std::string featureExtAckToken();
std::string doneToken(std::uint16_t status, TokenWidths widths);
// SSPI 0xED: a security token for the client, e.g. the Kerberos AP-REP of mutual authentication.
std::string sspiToken(const std::string& blob);

// LOGINACK carries the version big-endian and, for 7.0/7.1, in the older server-side form.
std::uint32_t loginAckVersion(std::uint32_t agreedVersion);

} // namespace stand_in
