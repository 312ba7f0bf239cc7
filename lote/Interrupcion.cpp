#include "lote/Interrupcion.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace lote {

namespace {

sigset_t senalesDeFin() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGHUP);
    return s;
}

} // namespace

Interrupcion::Interrupcion() {
    const sigset_t s = senalesDeFin();
    fin_ = login_shared::Descriptor(::eventfd(0, EFD_CLOEXEC));
    if (fin_.fd() < 0)
        return; // nothing could wake `espera`: the signals keep their usual effect
    ::pthread_sigmask(SIG_BLOCK, &s, nullptr);
    senales_ = login_shared::Descriptor(::signalfd(-1, &s, SFD_CLOEXEC));
}

void Interrupcion::avisaFin() {
    const std::uint64_t uno = 1;
    if (fin_.fd() >= 0)
        while (::write(fin_.fd(), &uno, sizeof uno) < 0 && errno == EINTR) {
        }
}

int Interrupcion::espera() {
    if (fin_.fd() < 0)
        return 0;
    pollfd p[2] = {{fin_.fd(), POLLIN, 0}, {senales_.fd(), POLLIN, 0}};
    for (;;) {
        if (::poll(p, senales_.fd() >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (senales_.fd() >= 0 && (p[1].revents & POLLIN)) {
            // Said before it is taken, so that `pendiente` is never false in between.
            llegada_ = true;
            signalfd_siginfo info{};
            if (::read(senales_.fd(), &info, sizeof info) == ssize_t(sizeof info))
                return int(info.ssi_signo);
        }
        if (p[0].revents & POLLIN)
            return 0;
    }
}

bool Interrupcion::pendiente() const {
    if (llegada_)
        return true;
    sigset_t pendientes;
    if (senales_.fd() < 0 || ::sigpending(&pendientes) != 0)
        return false;
    return sigismember(&pendientes, SIGINT) == 1 || sigismember(&pendientes, SIGTERM) == 1 ||
           sigismember(&pendientes, SIGHUP) == 1;
}

} // namespace lote
