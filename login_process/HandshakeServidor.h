#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace login_process {

// What the server's clear handshake records say (RFC 5246, 7.4): the suite
// its ServerHello chose and the first certificate of its Certificate
// message (its own, DER). Handshake messages may span records and records
// may come cut short; nothing past the bytes given is ever read.
struct HandshakeServidor {
    std::uint16_t suite = 0; // 0: no ServerHello seen
    std::string certificado; // empty: none seen whole
};

HandshakeServidor leeHandshakeServidor(std::string_view registros);

} // namespace login_process
