#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace login_process {

// What the server's clear handshake records say (RFC 5246, 7.4): the suite
// its ServerHello chose and the certificates of its Certificate message
// (DER, its own first). Handshake messages may span records and records
// may come cut short; nothing past the bytes given is ever read.
struct HandshakeServidor {
    std::uint16_t suite = 0; // 0: no ServerHello seen
    std::string certificado; // cadena[0]; empty: none seen whole
    // In the order sent, up to the first that is empty or runs past the
    // list, and no more than kMaximoCadena: a chain is a handful at most.
    std::vector<std::string> cadena;
};

inline constexpr std::size_t kMaximoCadena = 10;

HandshakeServidor leeHandshakeServidor(std::string_view registros);

} // namespace login_process
