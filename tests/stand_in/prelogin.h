#pragma once

#include "tests/stand_in/config.h"

#include <cstdint>
#include <optional>
#include <string>

namespace stand_in {

// PRELOGIN ENCRYPTION values (MS-TDS 2.2.6.5).
namespace encrypt {
constexpr std::uint8_t off = 0x00;
constexpr std::uint8_t on = 0x01;
constexpr std::uint8_t notSupported = 0x02;
constexpr std::uint8_t required = 0x03;
} // namespace encrypt

struct PreloginRequest {
    std::uint8_t encryption = encrypt::notSupported; // what a client without the option means
    std::string instance;
};

std::optional<PreloginRequest> decodePrelogin(const std::string& payload);

// What the server answers, and whether TLS then covers the LOGIN7 packet only or everything.
struct EncryptionDecision {
    std::uint8_t answer = encrypt::notSupported;
    enum class Scope { None, LoginPacket, Session, Refuse } scope = Scope::None;
};

EncryptionDecision negotiateEncryption(Encryption server, std::uint8_t client);

// VERSION, ENCRYPTION, INSTOPT, THREADID (empty, as servers send it), MARS = 0.
std::string encodePreloginReply(ProductVersion version, std::uint8_t encryption);

} // namespace stand_in
