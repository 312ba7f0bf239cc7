#include "data_access/ServidorHijo.h"

#include "data_access/ArranqueLogin.h"

#include <poll.h>
#include <signal.h>
#include <utility>

namespace data_access {

ServidorHijo::ServidorHijo(ServidorHijo&& otro) noexcept
    : pid_(std::exchange(otro.pid_, -1)), canal_(std::move(otro.canal_)) {}

ServidorHijo& ServidorHijo::operator=(ServidorHijo&& otro) noexcept {
    if (this != &otro) {
        termina();
        pid_ = std::exchange(otro.pid_, -1);
        canal_ = std::move(otro.canal_);
    }
    return *this;
}

bool ServidorHijo::vivo() const {
    if (pid_ < 0)
        return false;
    pollfd p{canal_.fd(), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

pid_t ServidorHijo::abandona() noexcept {
    if (pid_ < 0)
        return -1;
    canal_.cierra();
    ::kill(pid_, SIGKILL);
    return std::exchange(pid_, -1);
}

void ServidorHijo::termina() noexcept {
    if (pid_ < 0)
        return;
    canal_.cierra(); // it ends when its channel closes; killed in case it is stuck
    ::kill(pid_, SIGKILL);
    terminaHijo(std::exchange(pid_, -1), std::chrono::milliseconds(0));
}

} // namespace data_access
