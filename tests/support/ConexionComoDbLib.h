#pragma once

#include "login_process/Relevo.h"
#include "tests/stand_in/prelogin.h"

#include <string>
#include <sys/socket.h>
#include <unistd.h>

// Makes db-lib's calls to the relay, as the login process passes them on: a
// socket connected to the relay's port, then a PRELOGIN; the socket, or -1.
inline int conectaConPrelogin(login_process::Relevo& relevo) {
    const int cliente = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::string carga = stand_in::encodePreloginReply({}, stand_in::encrypt::notSupported);
    const std::size_t largo = carga.size() + 8;
    const std::string prelogin = std::string("\x12\x01", 2) + char(largo >> 8) + char(largo & 0xFF) +
                                 std::string("\0\0\1\0", 4) + carga;
    if (relevo.conecta(cliente) != 0 ||
        relevo.envia(cliente, prelogin.data(), prelogin.size(), MSG_NOSIGNAL) != ssize_t(prelogin.size())) {
        relevo.cierra(cliente);
        ::close(cliente);
        return -1;
    }
    return cliente;
}
