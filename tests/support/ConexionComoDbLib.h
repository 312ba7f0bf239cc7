#pragma once

#include "tests/stand_in/prelogin.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// Connects to 127.0.0.1:<puerto> from this process, as db-lib does, and
// sends a PRELOGIN; the socket, or -1.
inline int conectaConPrelogin(std::uint16_t puerto) {
    const int cliente = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(puerto);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string carga = stand_in::encodePreloginReply({}, stand_in::encrypt::notSupported);
    const std::size_t largo = carga.size() + 8;
    const std::string prelogin = std::string("\x12\x01", 2) + char(largo >> 8) + char(largo & 0xFF) +
                                 std::string("\0\0\1\0", 4) + carga;
    if (::connect(cliente, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::send(cliente, prelogin.data(), prelogin.size(), 0) != ssize_t(prelogin.size())) {
        ::close(cliente);
        return -1;
    }
    return cliente;
}
