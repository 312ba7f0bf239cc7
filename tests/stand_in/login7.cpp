#include "tests/stand_in/login7.h"

#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/ucs2.h"

namespace stand_in {

namespace {

constexpr std::size_t fixedPartSize = 86; // 7.0/7.1; 7.2+ adds 8 bytes, of which only cbSSPILong matters
constexpr std::size_t fixedPartSize72 = 94;
constexpr std::uint8_t fIntSecurity = 0x80;
constexpr std::uint8_t fExtension = 0x10;

// Where each (offset, length) pair sits in the fixed part.
constexpr std::size_t hostNameField = 36;
constexpr std::size_t userNameField = 40;
constexpr std::size_t passwordField = 44;
constexpr std::size_t appNameField = 48;
constexpr std::size_t serverNameField = 52;
constexpr std::size_t databaseField = 68;
constexpr std::size_t sspiField = 78;     // (offset, length in bytes)
constexpr std::size_t sspiLongField = 90; // 4-byte length, 7.2+, used when the 2-byte one is 0xFFFF

// Reads the UTF-16 bytes an (offset, character count) pair points at; ib is meaningless when the
// count is 0 (FreeTDS writes 0 there for integrated logins).
std::optional<std::string> fieldBytes(const std::string& payload, std::size_t field) {
    const std::size_t offset = readU16le(payload, field);
    const std::size_t bytes = 2 * std::size_t{readU16le(payload, field + 2)};
    if (bytes == 0)
        return std::string();
    if (offset + bytes > payload.size())
        return std::nullopt;
    return payload.substr(offset, bytes);
}

// MS-TDS 2.2.6.4: each byte was nibble-swapped then XORed with 0xA5.
std::string deobfuscatePassword(std::string bytes) {
    for (char& c : bytes) {
        const auto x = static_cast<unsigned char>(static_cast<unsigned char>(c) ^ 0xA5);
        c = static_cast<char>(((x << 4) | (x >> 4)) & 0xFF);
    }
    return bytes;
}

} // namespace

std::optional<Login7> decodeLogin7(const std::string& payload) {
    if (payload.size() < fixedPartSize)
        return std::nullopt;
    Login7 login;
    LoginRecord& r = login.record;
    r.tdsVersion = readU32le(payload, 4);
    r.packetSize = readU32le(payload, 8);
    r.integrated = (static_cast<unsigned char>(payload[25]) & fIntSecurity) != 0;
    login.wantsExtensions =
        r.tdsVersion >= tds_version::v7_4 && (static_cast<unsigned char>(payload[27]) & fExtension) != 0;

    const auto host = fieldBytes(payload, hostNameField);
    const auto user = fieldBytes(payload, userNameField);
    const auto password = fieldBytes(payload, passwordField);
    const auto app = fieldBytes(payload, appNameField);
    const auto server = fieldBytes(payload, serverNameField);
    const auto database = fieldBytes(payload, databaseField);
    if (!host || !user || !password || !app || !server || !database)
        return std::nullopt;
    r.hostName = utf16leToUtf8(*host);
    r.user = utf16leToUtf8(*user);
    r.password = utf16leToUtf8(deobfuscatePassword(*password));
    r.applicationName = utf16leToUtf8(*app);
    r.serverName = utf16leToUtf8(*server);
    r.database = utf16leToUtf8(*database);

    const std::size_t sspiOffset = readU16le(payload, sspiField);
    std::size_t sspiBytes = readU16le(payload, sspiField + 2);
    if (sspiBytes == 0xFFFF && r.tdsVersion >= tds_version::v7_2 && payload.size() >= fixedPartSize72)
        sspiBytes = readU32le(payload, sspiLongField);
    if (sspiBytes > 0) {
        if (sspiOffset + sspiBytes > payload.size())
            return std::nullopt;
        login.sspi = payload.substr(sspiOffset, sspiBytes);
    }
    return login;
}

} // namespace stand_in
