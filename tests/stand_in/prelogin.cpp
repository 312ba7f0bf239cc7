#include "tests/stand_in/prelogin.h"

#include "tests/stand_in/byte_buffer.h"

#include <vector>

namespace stand_in {

namespace {

constexpr std::uint8_t optVersion = 0x00;
constexpr std::uint8_t optEncryption = 0x01;
constexpr std::uint8_t optInstance = 0x02;
constexpr std::uint8_t optThreadId = 0x03;
constexpr std::uint8_t optMars = 0x04;
constexpr std::uint8_t optTerminator = 0xFF;
constexpr std::size_t optionEntrySize = 5;

} // namespace

std::optional<PreloginRequest> decodePrelogin(const std::string& payload) {
    PreloginRequest request;
    for (std::size_t at = 0;; at += optionEntrySize) {
        if (at >= payload.size())
            return std::nullopt;
        const auto token = static_cast<std::uint8_t>(payload[at]);
        if (token == optTerminator)
            break;
        if (at + optionEntrySize > payload.size())
            return std::nullopt;
        const std::size_t offset = readU16be(payload, at + 1);
        const std::size_t length = readU16be(payload, at + 3);
        if (offset + length > payload.size())
            return std::nullopt;
        const std::string data = payload.substr(offset, length);
        if (token == optEncryption && length >= 1)
            request.encryption = static_cast<std::uint8_t>(data[0]);
        else if (token == optInstance)
            request.instance = data.substr(0, data.find('\0'));
    }
    return request;
}

EncryptionDecision negotiateEncryption(Encryption server, std::uint8_t client) {
    using Scope = EncryptionDecision::Scope;
    const bool clientOn = client == encrypt::on || client == encrypt::required;
    const bool clientCanEncrypt = client != encrypt::notSupported;
    switch (server) {
    case Encryption::NotSupported:
        // An ON client gives up by itself (MS-TDS: "connection terminated").
        return {encrypt::notSupported, Scope::None};
    case Encryption::LoginOnly:
        if (!clientCanEncrypt)
            return {encrypt::notSupported, Scope::None};
        return clientOn ? EncryptionDecision{encrypt::on, Scope::Session}
                        : EncryptionDecision{encrypt::off, Scope::LoginPacket};
    case Encryption::Required:
        if (clientOn)
            return {encrypt::on, Scope::Session};
        // A client that declared no TLS support cannot meet the requirement: answer, then hang up.
        return {encrypt::required, clientCanEncrypt ? Scope::Session : Scope::Refuse};
    case Encryption::Strict:
        // TLS already carries the whole connection.
        return {encrypt::notSupported, Scope::None};
    }
    return {};
}

std::string encodePreloginReply(ProductVersion version, std::uint8_t encryption) {
    struct Option {
        std::uint8_t token;
        std::string data;
    };
    ByteWriter versionData;
    versionData.u8(version.major);
    versionData.u8(version.minor);
    versionData.u16be(version.build);
    versionData.u16be(0);
    const std::vector<Option> options = {
        {optVersion, versionData.bytes()},   {optEncryption, std::string(1, static_cast<char>(encryption))},
        {optInstance, std::string(1, '\0')}, {optThreadId, std::string()},
        {optMars, std::string(1, '\0')},
    };

    ByteWriter table;
    ByteWriter data;
    const std::size_t dataStart = options.size() * optionEntrySize + 1;
    for (const Option& option : options) {
        table.u8(option.token);
        table.u16be(static_cast<std::uint16_t>(dataStart + data.size()));
        table.u16be(static_cast<std::uint16_t>(option.data.size()));
        data.raw(option.data);
    }
    table.u8(optTerminator);
    return table.bytes() + data.bytes();
}

} // namespace stand_in
