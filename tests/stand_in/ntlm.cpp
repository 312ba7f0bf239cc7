#include "tests/stand_in/ntlm.h"

#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/ucs2.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace stand_in {

namespace {

const std::string signature("NTLMSSP\0", 8);
constexpr std::uint32_t typeChallenge = 2;
constexpr std::uint32_t typeAuthenticate = 3;

namespace flag {
constexpr std::uint32_t unicode = 0x00000001;
constexpr std::uint32_t requestTarget = 0x00000004;
constexpr std::uint32_t ntlm = 0x00000200;
constexpr std::uint32_t alwaysSign = 0x00008000;
constexpr std::uint32_t targetTypeServer = 0x00020000;
constexpr std::uint32_t extendedSessionSecurity = 0x00080000;
constexpr std::uint32_t targetInfo = 0x00800000;
constexpr std::uint32_t version = 0x02000000;
constexpr std::uint32_t key128 = 0x20000000;
constexpr std::uint32_t key56 = 0x80000000;
} // namespace flag

namespace av {
constexpr std::uint16_t eol = 0;
constexpr std::uint16_t nbComputerName = 1;
constexpr std::uint16_t nbDomainName = 2;
constexpr std::uint16_t dnsComputerName = 3;
constexpr std::uint16_t timestamp = 7;
} // namespace av

// The fixed part of a CHALLENGE with its version field; the payload follows at once.
constexpr std::size_t challengeHeaderSize = 56;
constexpr std::size_t authenticateHeaderSize = 64; // up to and with the flags; the version is optional

void avPair(ByteWriter& w, std::uint16_t id, const std::string& value) {
    w.u16le(id);
    w.u16le(static_cast<std::uint16_t>(value.size()));
    w.raw(value);
}

// Length, maximum length and offset of a payload field.
void fields(ByteWriter& w, std::size_t length, std::size_t offset) {
    w.u16le(static_cast<std::uint16_t>(length));
    w.u16le(static_cast<std::uint16_t>(length));
    w.u32le(static_cast<std::uint32_t>(offset));
}

std::optional<std::string> fieldBytes(const std::string& message, std::size_t field) {
    const std::size_t length = readU16le(message, field);
    const std::size_t offset = readU32le(message, field + 4);
    if (length == 0)
        return std::string();
    if (offset > message.size() || length > message.size() - offset)
        return std::nullopt;
    return message.substr(offset, length);
}

// Windows FILETIME: tenths of a microsecond since 1601.
std::uint64_t fileTimeNow() {
    constexpr std::uint64_t secondsFrom1601To1970 = 11644473600ULL;
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return (secondsFrom1601To1970 * 1000000 + static_cast<std::uint64_t>(sinceEpoch.count())) * 10;
}

} // namespace

std::string ntlmChallenge(const std::string& serverName, const std::array<std::uint8_t, 8>& serverChallenge) {
    std::string upper = serverName;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    std::string lower = serverName;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });

    // A server in a workgroup of its own name, as a stand-alone one answers.
    const std::string targetName = utf8ToUtf16le(upper);
    ByteWriter info;
    avPair(info, av::nbDomainName, targetName);
    avPair(info, av::nbComputerName, targetName);
    avPair(info, av::dnsComputerName, utf8ToUtf16le(lower));
    ByteWriter time;
    time.u64le(fileTimeNow());
    avPair(info, av::timestamp, time.bytes());
    avPair(info, av::eol, "");

    ByteWriter w;
    w.raw(signature);
    w.u32le(typeChallenge);
    fields(w, targetName.size(), challengeHeaderSize);
    w.u32le(flag::unicode | flag::requestTarget | flag::ntlm | flag::alwaysSign | flag::targetTypeServer |
            flag::extendedSessionSecurity | flag::targetInfo | flag::version | flag::key128 | flag::key56);
    for (const std::uint8_t byte : serverChallenge)
        w.u8(byte);
    w.u64le(0); // reserved
    fields(w, info.size(), challengeHeaderSize + targetName.size());
    // Windows Server 2019 (10.0.17763), NTLM revision 15.
    w.u8(10);
    w.u8(0);
    w.u16le(17763);
    w.raw(std::string(3, '\0'));
    w.u8(15);
    w.raw(targetName);
    w.raw(info.bytes());
    return w.bytes();
}

std::optional<NtlmAuthenticateRecord> decodeNtlmAuthenticate(const std::string& message) {
    if (message.size() < authenticateHeaderSize || message.compare(0, 8, signature) != 0 ||
        readU32le(message, 8) != typeAuthenticate)
        return std::nullopt;
    const auto ntResponse = fieldBytes(message, 20);
    const auto domain = fieldBytes(message, 28);
    const auto user = fieldBytes(message, 36);
    const auto workstation = fieldBytes(message, 44);
    if (!ntResponse || !domain || !user || !workstation)
        return std::nullopt;
    const bool unicode = (readU32le(message, 60) & flag::unicode) != 0;
    const auto text = [unicode](const std::string& bytes) { return unicode ? utf16leToUtf8(bytes) : bytes; };
    NtlmAuthenticateRecord record;
    record.account = text(*domain) + "\\" + text(*user);
    record.workstation = text(*workstation);
    record.ntlmV2 = ntResponse->size() > 24;
    return record;
}

} // namespace stand_in
