#include "data_access/Hijo.h"

#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Plazo.h"

#include <cerrno>
#include <fstream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace data_access {

using login_shared::Lectura;
using login_shared::Plazo;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensaje;

namespace {

// How long a closing child may take before it is killed.
constexpr std::chrono::milliseconds kEsperaCierre{2000};

// Whether waitpid's answer `r` for `pid` means it is gone: ended and reaped, or not
// this process's to wait for. A stop reported to this process as its tracer is not an end.
bool recogido(pid_t pid, pid_t r, int estado) {
    return (r == pid && !WIFSTOPPED(estado) && !WIFCONTINUED(estado)) || (r < 0 && errno != EINTR);
}

// Waits for the child to end, at most `espera`; true with its wait status in `estado` once reaped.
bool esperaFinDe(pid_t pid, std::chrono::milliseconds espera, int& estado) {
    // A pidfd becomes readable when the child ends: no polling interval to wait out.
    // (Called through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.)
    const Descriptor pidfd(int(::syscall(SYS_pidfd_open, pid, 0)));
    const auto fin = Plazo::Reloj::now() + espera;
    for (;;) {
        if (recogido(pid, ::waitpid(pid, &estado, WNOHANG), estado))
            return true;
        const auto queda = std::chrono::duration_cast<std::chrono::milliseconds>(fin - Plazo::Reloj::now());
        if (queda.count() <= 0)
            return false;
        if (pidfd.fd() >= 0) {
            pollfd p{pidfd.fd(), POLLIN, 0};
            ::poll(&p, 1, int(queda.count()) + 1);
        } else {
            ::usleep(1000);
        }
    }
}

// Waits for the child to end, killing it if it has not within `espera`; its wait status.
// Waits with no limit after the kill: for the end of the application only.
int terminaHijo(pid_t pid, std::chrono::milliseconds espera) {
    int estado = 0;
    if (esperaFinDe(pid, espera, estado))
        return estado;
    ::kill(pid, SIGKILL);
    for (;;) {
        const pid_t r = ::waitpid(pid, &estado, 0);
        if (recogido(pid, r, estado))
            return estado;
    }
}

// The pid a login process announced on `canal` within `espera`, if it did.
std::optional<pid_t> pidAnunciado(int canal, std::chrono::milliseconds espera) {
    char tipo = 0;
    std::string cuerpo;
    if (recibeMensaje(canal, tipo, cuerpo, espera) != Lectura::Mensaje || tipo != mensaje::kEnMarcha)
        return std::nullopt;
    try {
        const long pid = std::stol(cuerpo);
        if (pid > 0)
            return pid_t(pid);
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// The children handed over: reaped on the later calls of whoever hands one over or
// starts one, so that closing never waits.
class Recolector {
public:
    void entrega(pid_t pid, Plazo::Reloj::time_point limite) {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        recogeConCerrojo();
        terminando_.push_back({pid, limite});
    }

    void entregaSinPid(Descriptor canal) {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        sinPid_.push_back({std::move(canal), Plazo::Reloj::now() + kEsperaCierre});
    }

    void recoge() {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        recogeConCerrojo();
    }

    void esperaTodos() {
        std::vector<QueTermina> terminando;
        std::vector<SinPid> sinPid;
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            terminando.swap(terminando_);
            sinPid.swap(sinPid_);
        }
        for (SinPid& s : sinPid) {
            const auto queda =
                std::chrono::duration_cast<std::chrono::milliseconds>(s.limite - Plazo::Reloj::now());
            if (const auto pid = pidAnunciado(s.canal.fd(), std::max(queda, std::chrono::milliseconds(0))))
                terminando.push_back({*pid, Plazo::Reloj::now()});
        }
        for (const QueTermina& t : terminando)
            terminaHijo(
                t.pid, std::chrono::duration_cast<std::chrono::milliseconds>(t.limite - Plazo::Reloj::now()));
    }

private:
    struct QueTermina {
        pid_t pid;
        Plazo::Reloj::time_point limite;
    };
    // A login's channel whose process's pid the server never told: the process, if
    // there is one, says it first thing; none comes once the channel closes. The limit
    // bounds the wait for it at the application's end.
    struct SinPid {
        Descriptor canal;
        Plazo::Reloj::time_point limite;
    };

    // Kills those whose pid was unknown as soon as they announce it. One that has not
    // yet is kept however long it takes (it may not have run yet, on a busy machine):
    // dropped, it would stay a zombie no one can name.
    void recogeConCerrojo() {
        const auto ahora = Plazo::Reloj::now();
        for (auto s = sinPid_.begin(); s != sinPid_.end();) {
            pollfd p{s->canal.fd(), POLLIN | POLLRDHUP, 0};
            if (::poll(&p, 1, 0) == 0) {
                ++s;
                continue;
            }
            if (const auto pid = pidAnunciado(s->canal.fd(), std::chrono::milliseconds(0)))
                terminando_.push_back({*pid, ahora});
            s = sinPid_.erase(s);
        }
        for (auto t = terminando_.begin(); t != terminando_.end();) {
            if (ahora >= t->limite)
                ::kill(t->pid, SIGKILL);
            int estado = 0;
            t = recogido(t->pid, ::waitpid(t->pid, &estado, WNOHANG), estado) ? terminando_.erase(t) : t + 1;
        }
    }

    std::mutex mutex_;
    std::vector<QueTermina> terminando_;
    std::vector<SinPid> sinPid_;
};

// Never destroyed: children are handed over up to the last static destructor.
Recolector& recolector() {
    static Recolector* r = new Recolector;
    return *r;
}

// Hands `pid` to the reaper, to be killed at `limite`; waits for it here only if it cannot.
void entrega(pid_t pid, Plazo::Reloj::time_point limite) noexcept {
    try {
        recolector().entrega(pid, limite);
    } catch (...) {
        terminaHijo(pid, std::chrono::duration_cast<std::chrono::milliseconds>(limite - Plazo::Reloj::now()));
    }
}

} // namespace

Hijo& Hijo::operator=(Hijo&& otro) noexcept {
    if (this != &otro) {
        mata();
        pid_ = std::exchange(otro.pid_, -1);
        canal_ = std::move(otro.canal_);
    }
    return *this;
}

bool Hijo::vivo() const {
    if (pid_ < 0)
        return false;
    pollfd p{canal_.fd(), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

bool Hijo::detenido() const {
    if (pid_ < 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string linea;
    std::getline(stat, linea);
    const auto cierre = linea.rfind(')');
    return cierre != std::string::npos && cierre + 2 < linea.size() && linea[cierre + 2] == 'T';
}

void Hijo::cierra() noexcept {
    canal_.cierra();
    if (pid_ >= 0)
        // It closes what it holds and ends on its own; tearing it down takes the
        // kernel about a millisecond, which the caller need not wait for.
        entrega(std::exchange(pid_, -1), Plazo::Reloj::now() + kEsperaCierre);
}

void Hijo::mata() noexcept {
    if (pid_ >= 0)
        ::kill(pid_, SIGKILL);
    canal_.cierra();
    if (pid_ >= 0)
        entrega(std::exchange(pid_, -1), Plazo::Reloj::now());
}

int Hijo::recoge(std::chrono::milliseconds espera) noexcept {
    canal_.cierra();
    if (pid_ < 0)
        return 0;
    int estado = 0;
    if (esperaFinDe(pid_, espera, estado)) {
        pid_ = -1;
        return estado;
    }
    // Not ended yet (stuck in the kernel): killed and left to the reaper, never waited for here.
    mata();
    return 0;
}

void entregaSinPid(Descriptor canal) {
    recolector().entregaSinPid(std::move(canal));
}

void recogeHijos() noexcept {
    try {
        recolector().recoge();
    } catch (...) {
    }
}

void esperaHijos() noexcept {
    try {
        recolector().esperaTodos();
    } catch (...) {
    }
}

} // namespace data_access
