#pragma once

#include "login_shared/Descriptor.h"

#include <cstdint>
#include <sys/socket.h>

namespace login_process {

using login_shared::Descriptor;

// While it lives, the connection this thread's db-lib makes to the relay's
// port on loopback is handed `extremo`, one end of a socket pair whose other
// end the relay holds, instead of a TCP connection: a login then costs no
// loopback handshake, teardown or second TCP stack per packet, and nothing
// outside this process can be at either end. The swap is made by the
// executable's connect() (ConectaDbLib.cpp); where none makes it, db-lib
// connects to the relay over TCP as before. An end not taken is closed.
class EntregaExtremoDbLib {
public:
    EntregaExtremoDbLib(std::uint16_t puerto, Descriptor extremo);
    ~EntregaExtremoDbLib();
    EntregaExtremoDbLib(const EntregaExtremoDbLib&) = delete;
    EntregaExtremoDbLib& operator=(const EntregaExtremoDbLib&) = delete;

private:
    friend int tomaExtremoDbLib(const sockaddr* destino, socklen_t longitud) noexcept;
    std::uint16_t puerto_;
    Descriptor extremo_;
    EntregaExtremoDbLib* anterior_;
};

// For connect(): the end handed over on this thread when `destino` is
// 127.0.0.1 and its port; -1 otherwise. Taken once: the caller owns it.
int tomaExtremoDbLib(const sockaddr* destino, socklen_t longitud) noexcept;

} // namespace login_process
