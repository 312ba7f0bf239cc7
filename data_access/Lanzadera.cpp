#include "data_access/Lanzadera.h"

#include "data_access/ArranqueLogin.h"
#include "data_access/Conexion.h"
#include "data_access/Textos.h"
#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Plazo.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace data_access {

using login_shared::Causa;
using login_shared::enviaMensajeConDescriptor;
using login_shared::ErrorConexion;
using login_shared::Lectura;
using login_shared::Plazo;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensaje;
using login_shared::serializa;

// How long a closing login may take before it is killed.
constexpr std::chrono::milliseconds kEsperaCierre{2000};
// A healthy server forks in milliseconds, even on a busy machine: one that has
// forked before and has not answered in this long is taken for stalled and
// replaced within the same deadline. One that is stopped is replaced at once;
// a new one, which may still be loading on a busy machine, is waited for.
constexpr std::chrono::milliseconds kRespuestaServidor{1000};
constexpr std::chrono::milliseconds kVistazo{100};

class Lanzadera {
public:
    ~Lanzadera() { terminaTodo(); }

    void prepara() {
        // Someone holding it is starting or using the server already.
        std::unique_lock<std::timed_mutex> cerrojo(servidorMutex_, std::try_to_lock);
        if (cerrojo.owns_lock() && !servidor_.vivo()) {
            retiraServidor();
            servidor_ = arrancaServidorLogins();
        }
    }

    std::optional<LoginHijo> lanza(std::optional<std::chrono::milliseconds> espera, char tipoLanzamiento) {
        const auto limite = Plazo::Reloj::now() + espera.value_or(std::chrono::milliseconds(0));
        const auto queda = [&]() -> std::optional<std::chrono::milliseconds> {
            if (!espera)
                return std::nullopt;
            return std::max(
                std::chrono::milliseconds(0),
                std::chrono::duration_cast<std::chrono::milliseconds>(limite - Plazo::Reloj::now()));
        };
        recogeTerminados();
        const std::string lanzamiento = serializa(lanzamientoActual());
        // The child enters this folder through the descriptor, not its path: a folder
        // renamed or made unreadable since is still the open's.
        const Descriptor carpeta(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        // Requests go one at a time; waiting for the server is part of the open's time.
        std::unique_lock<std::timed_mutex> cerrojo(servidorMutex_, std::defer_lock);
        if (!espera)
            cerrojo.lock();
        else if (!cerrojo.try_lock_for(*queda()))
            return std::nullopt;
        // A server that died is replaced once; a second death in a row is reported. One
        // that stalls (stopped, starved) is replaced as often as the deadline allows.
        for (int muertes = 0; muertes < 2;) {
            if (!servidor_.vivo()) {
                retiraServidor();
                servidor_ = arrancaServidorLogins();
            }
            auto [nuestro, suyo] = parDeCanales();
            LoginHijo hijo(std::move(nuestro));
            const bool enviado = enviaMensajeConDescriptor(servidor_.canal(), tipoLanzamiento, lanzamiento,
                                                           suyo.fd(), carpeta.fd());
            // The child's end is the child's alone: closed here at once, whatever happened.
            suyo.cierra();
            char tipo = 0;
            std::string respuesta;
            // Looked at in short glances, so that a server stopped meanwhile is seen at once.
            bool hayRespuesta = false;
            const auto desde = Plazo::Reloj::now();
            while (enviado && !hayRespuesta && !servidor_.detenido() &&
                   (!servidor_.probado() || Plazo::Reloj::now() - desde < kRespuestaServidor) &&
                   (!queda() || queda()->count() > 0)) {
                pollfd p{servidor_.canal(), POLLIN | POLLRDHUP, 0};
                hayRespuesta =
                    ::poll(&p, 1, int((queda() ? std::min(*queda(), kVistazo) : kVistazo).count())) > 0;
            }
            const Lectura lectura =
                !enviado       ? Lectura::Fin
                : hayRespuesta ? recibeMensaje(servidor_.canal(), tipo, respuesta,
                                               queda() ? std::max(*queda(), kVistazo) : kRespuestaServidor)
                               : Lectura::Agotada;
            // The server is ended; it may have forked the login first, which then is
            // this process's child with a pid only the child's channel can tell.
            const auto sinRespuesta = [&] {
                retiraServidor();
                if (enviado)
                    adoptaSinPid(hijo);
            };
            if (lectura == Lectura::Agotada) {
                sinRespuesta();
                if (queda() && queda()->count() == 0)
                    return std::nullopt;
                continue;
            }
            if (lectura != Lectura::Mensaje || tipo != mensaje::kLanzado) {
                sinRespuesta();
                ++muertes;
                continue;
            }
            long pid = 0;
            try {
                pid = std::stol(respuesta);
            } catch (const std::exception&) {
                sinRespuesta();
                ++muertes;
                continue;
            }
            if (pid <= 0)
                throw ErrorConexion(textos::procesoLoginNoArranca(rutaProcesoLogin(), int(-pid)),
                                    Causa::Sistema);
            hijo.pid_ = pid_t(pid);
            servidor_.marcaProbado();
            return hijo;
        }
        throw ErrorConexion(textos::procesoLoginTerminado(-1), Causa::Interno);
    }

    void entrega(pid_t pid) {
        std::lock_guard<std::mutex> cerrojo(terminandoMutex_);
        recogeTerminadosConCerrojo();
        terminando_.push_back({pid, Plazo::Reloj::now() + kEsperaCierre});
    }

    void terminaTodo() {
        {
            std::lock_guard<std::timed_mutex> cerrojo(servidorMutex_);
            servidor_ = {};
        }
        std::vector<QueTermina> terminando;
        std::vector<SinPid> sinPid;
        {
            std::lock_guard<std::mutex> cerrojo(terminandoMutex_);
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
    // there is one, says it first thing (kEnMarcha); none comes once the channel closes.
    struct SinPid {
        Descriptor canal;
        Plazo::Reloj::time_point limite;
    };

    // The server is killed and reaped later, like a closing login: nothing here waits for a
    // process that cannot run. Called with servidorMutex_ held.
    void retiraServidor() {
        const pid_t pid = servidor_.abandona();
        if (pid < 0)
            return;
        std::lock_guard<std::mutex> cerrojo(terminandoMutex_);
        terminando_.push_back({pid, Plazo::Reloj::now()});
    }

    void adoptaSinPid(LoginHijo& hijo) {
        std::lock_guard<std::mutex> cerrojo(terminandoMutex_);
        sinPid_.push_back({std::move(hijo.canal_), Plazo::Reloj::now() + kEsperaCierre});
    }

    // The pid a login process announced on `canal` within `espera`, if it did.
    static std::optional<pid_t> pidAnunciado(int canal, std::chrono::milliseconds espera) {
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

    void recogeTerminados() {
        std::lock_guard<std::mutex> cerrojo(terminandoMutex_);
        recogeTerminadosConCerrojo();
    }

    // Reaps the closing processes that have ended; kills those past their time, and
    // those whose pid was unknown as soon as they announce it. Never waits: a killed
    // process that the kernel has not let go of yet (stuck in a system call) is
    // reaped by a later call, so that no open waits for it.
    void recogeTerminadosConCerrojo() {
        const auto ahora = Plazo::Reloj::now();
        for (auto s = sinPid_.begin(); s != sinPid_.end();) {
            // Nothing yet, and the channel still open: the process may not have run yet.
            pollfd p{s->canal.fd(), POLLIN | POLLRDHUP, 0};
            if (ahora < s->limite && ::poll(&p, 1, 0) == 0) {
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
            const pid_t r = ::waitpid(t->pid, nullptr, WNOHANG);
            t = r == 0 ? t + 1 : terminando_.erase(t);
        }
    }

    std::timed_mutex servidorMutex_;
    ServidorHijo servidor_;
    std::mutex terminandoMutex_;
    std::vector<QueTermina> terminando_;
    std::vector<SinPid> sinPid_;
};

namespace {

Lanzadera& lanzadera() {
    static Lanzadera l;
    return l;
}

} // namespace

void preparaLogins() noexcept {
    try {
        lanzadera().prepara();
    } catch (...) {
    }
}

void terminaServidorLogins() noexcept {
    lanzadera().terminaTodo();
}

std::optional<LoginHijo> lanzaLogin(std::optional<std::chrono::milliseconds> espera) {
    return lanzadera().lanza(espera, mensaje::kLanza);
}

std::optional<LoginHijo> lanzaTrabajador(std::optional<std::chrono::milliseconds> espera) {
    return lanzadera().lanza(espera, mensaje::kLanzaTrabajador);
}

void entregaProcesoQueTermina(pid_t pid) noexcept {
    try {
        lanzadera().entrega(pid);
    } catch (...) {
        terminaHijo(pid, kEsperaCierre);
    }
}

} // namespace data_access
