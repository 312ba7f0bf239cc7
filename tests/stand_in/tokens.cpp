#include "tests/stand_in/tokens.h"

#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/ucs2.h"

namespace stand_in {

namespace {

constexpr std::uint8_t tokenEnvChange = 0xE3;
constexpr std::uint8_t tokenInfo = 0xAB;
constexpr std::uint8_t tokenError = 0xAA;
constexpr std::uint8_t tokenLoginAck = 0xAD;
constexpr std::uint8_t tokenFeatureExtAck = 0xAE;
constexpr std::uint8_t tokenDone = 0xFD;
constexpr std::uint8_t tokenSspi = 0xED;
constexpr std::uint8_t interfaceSqlTsql = 1;

// B_VARCHAR: one-byte count of UTF-16 units, then the text.
void bVarchar(ByteWriter& w, const std::string& text) {
    const std::string utf16 = utf8ToUtf16le(text);
    w.u8(static_cast<std::uint8_t>(utf16.size() / 2));
    w.raw(utf16);
}

void usVarchar(ByteWriter& w, const std::string& text) {
    const std::string utf16 = utf8ToUtf16le(text);
    w.u16le(static_cast<std::uint16_t>(utf16.size() / 2));
    w.raw(utf16);
}

// Token with a two-byte length covering the body.
std::string withLength(std::uint8_t token, const ByteWriter& body) {
    ByteWriter w;
    w.u8(token);
    w.u16le(static_cast<std::uint16_t>(body.size()));
    w.raw(body.bytes());
    return w.bytes();
}

} // namespace

std::string envChangeText(std::uint8_t type, const std::string& newValue, const std::string& oldValue) {
    ByteWriter body;
    body.u8(type);
    bVarchar(body, newValue);
    bVarchar(body, oldValue);
    return withLength(tokenEnvChange, body);
}

std::string envChangeDefaultCollation() {
    ByteWriter body;
    body.u8(envchange::collation);
    body.u8(5);
    body.raw(std::string("\x09\x04\xd0\x00\x34", 5)); // LCID 0x0409, flags 0xD0 (CI, AS), sort id 52
    body.u8(0);
    return withLength(tokenEnvChange, body);
}

std::string messageToken(const Message& message, TokenWidths widths) {
    ByteWriter body;
    body.u32le(static_cast<std::uint32_t>(message.number));
    body.u8(message.state);
    body.u8(message.severity);
    usVarchar(body, message.text);
    bVarchar(body, message.serverName);
    bVarchar(body, ""); // procedure name
    if (widths.wide)
        body.u32le(message.line);
    else
        body.u16le(static_cast<std::uint16_t>(message.line));
    return withLength(message.severity > 10 ? tokenError : tokenInfo, body);
}

std::uint32_t loginAckVersion(std::uint32_t agreedVersion) {
    if (agreedVersion < 0x71000000)
        return 0x07000000;
    if (agreedVersion == 0x71000000)
        return 0x07010000;
    return agreedVersion;
}

std::string loginAckToken(std::uint32_t agreedVersion, ProductVersion product) {
    return loginAckTokenWithWireVersion(loginAckVersion(agreedVersion), product);
}

std::string loginAckTokenWithWireVersion(std::uint32_t wireVersion, ProductVersion product) {
    ByteWriter body;
    body.u8(interfaceSqlTsql);
    body.u32be(wireVersion);
    bVarchar(body, std::string("Microsoft SQL Server\0\0", 22)); // real servers pad with two NULs
    body.u8(product.major);
    body.u8(product.minor);
    body.u16be(product.build);
    return withLength(tokenLoginAck, body);
}

std::string featureExtAckToken() {
    // No features acknowledged: just the terminator.
    return std::string{static_cast<char>(tokenFeatureExtAck), static_cast<char>(0xFF)};
}

std::string doneToken(std::uint16_t status, TokenWidths widths) {
    ByteWriter w;
    w.u8(tokenDone);
    w.u16le(status);
    w.u16le(0); // current command
    if (widths.wide)
        w.u64le(0);
    else
        w.u32le(0);
    return w.bytes();
}

std::string sspiToken(const std::string& blob) {
    ByteWriter w;
    w.u8(tokenSspi);
    w.u16le(static_cast<std::uint16_t>(blob.size()));
    w.raw(blob);
    return w.bytes();
}

} // namespace stand_in
