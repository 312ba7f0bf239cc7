#include "lote/Interrupcion.h"

#include "lote/Lote.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
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

void avisa(int fd) {
    const std::uint64_t uno = 1;
    if (fd >= 0)
        while (::write(fd, &uno, sizeof uno) < 0 && errno == EINTR) {
        }
}

} // namespace

Interrupcion::Interrupcion() {
    const sigset_t s = senalesDeFin();
    fin_ = login_shared::Descriptor(::eventfd(0, EFD_CLOEXEC));
    cierre_ = login_shared::Descriptor(::eventfd(0, EFD_CLOEXEC));
    if (fin_.fd() < 0 || cierre_.fd() < 0)
        return; // nothing could wake `espera`: the signals keep their usual effect
    ::pthread_sigmask(SIG_BLOCK, &s, nullptr);
    senales_ = login_shared::Descriptor(::signalfd(-1, &s, SFD_CLOEXEC));
    try {
        if (senales_.fd() >= 0)
            vigilante_ = std::thread([this] { vigila(); });
    } catch (const std::system_error&) {
        senales_.cierra();
    }
    // No one to read them: they end the process as they would have.
    if (senales_.fd() < 0)
        ::pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
}

Interrupcion::~Interrupcion() {
    if (vigilante_.joinable()) {
        avisa(cierre_.fd());
        vigilante_.join();
    }
}

void Interrupcion::avisaFin() {
    avisa(fin_.fd());
}

int Interrupcion::espera() {
    if (fin_.fd() < 0)
        return 0;
    pollfd p{fin_.fd(), POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    return senal_;
}

void Interrupcion::vigila() {
    pollfd p[2] = {{senales_.fd(), POLLIN, 0}, {cierre_.fd(), POLLIN, 0}};
    int primera = 0;
    std::chrono::steady_clock::time_point limite;
    for (;;) {
        int plazo = -1;
        if (primera != 0)
            plazo = int(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   limite - std::chrono::steady_clock::now())
                                                   .count()));
        const int listos = ::poll(p, 2, plazo);
        if (listos < 0 && errno == EINTR)
            continue;
        signalfd_siginfo info{};
        if (listos > 0 && (p[0].revents & POLLIN) &&
            ::read(senales_.fd(), &info, sizeof info) == ssize_t(sizeof info)) {
            const int senal = int(info.ssi_signo);
            // A second signal: whoever sent it will not wait.
            if (primera != 0)
                std::_Exit(kInterrumpida + senal);
            primera = senal;
            limite = std::chrono::steady_clock::now() + kGracia;
            senal_ = senal;
            avisa(fin_.fd());
            continue;
        }
        // The time to write what was done is over, the run is, or nothing more can be watched.
        if (listos <= 0 || (p[1].revents & POLLIN)) {
            if (primera != 0)
                std::_Exit(kInterrumpida + primera);
            return;
        }
    }
}

} // namespace lote
