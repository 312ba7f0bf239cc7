#include "data_access/ServidorHijo.h"

#include "data_access/ArranqueLogin.h"

#include <fstream>
#include <poll.h>
#include <signal.h>
#include <string>
#include <utility>

namespace data_access {

ServidorHijo::ServidorHijo(ServidorHijo&& otro) noexcept
    : pid_(std::exchange(otro.pid_, -1)), canal_(std::move(otro.canal_)),
      probado_(std::exchange(otro.probado_, false)) {}

ServidorHijo& ServidorHijo::operator=(ServidorHijo&& otro) noexcept {
    if (this != &otro) {
        termina();
        pid_ = std::exchange(otro.pid_, -1);
        canal_ = std::move(otro.canal_);
        probado_ = std::exchange(otro.probado_, false);
    }
    return *this;
}

bool ServidorHijo::vivo() const {
    if (pid_ < 0)
        return false;
    pollfd p{canal_.fd(), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

bool ServidorHijo::detenido() const {
    if (pid_ < 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string linea;
    std::getline(stat, linea);
    const auto cierre = linea.rfind(')');
    return cierre != std::string::npos && cierre + 2 < linea.size() &&
           (linea[cierre + 2] == 'T' || linea[cierre + 2] == 't');
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
