#include "data_access/Lanzadera.h"

#include "data_access/Conexion.h"
#include "data_access/LanzamientoLogin.h"
#include "data_access/Textos.h"
#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Plazo.h"

#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <tuple>
#include <utility>

namespace data_access {

using login_shared::Causa;
using login_shared::enviaMensajeConDescriptor;
using login_shared::ErrorConexion;
using login_shared::Lectura;
using login_shared::Plazo;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensaje;
using login_shared::serializa;

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
            servidor_ = lanzaServidorLogins();
        }
    }

    std::optional<Hijo> lanza(std::optional<std::chrono::milliseconds> espera, char tipoLanzamiento) {
        const auto limite = Plazo::Reloj::now() + espera.value_or(std::chrono::milliseconds(0));
        const auto queda = [&]() -> std::optional<std::chrono::milliseconds> {
            if (!espera)
                return std::nullopt;
            return std::max(
                std::chrono::milliseconds(0),
                std::chrono::duration_cast<std::chrono::milliseconds>(limite - Plazo::Reloj::now()));
        };
        recogeHijos();
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
                servidor_ = lanzaServidorLogins();
            }
            Descriptor nuestro, suyo;
            std::tie(nuestro, suyo) = parDeCanales();
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
                   (!servidorProbado_ || Plazo::Reloj::now() - desde < kRespuestaServidor) &&
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
                    entregaSinPid(std::move(nuestro));
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
                throw ErrorConexion(textos::procesoLoginNoSeLanza(rutaProcesoLogin(), int(-pid)),
                                    Causa::Sistema);
            servidorProbado_ = true;
            return Hijo(pid_t(pid), std::move(nuestro));
        }
        throw ErrorConexion(textos::procesoLoginTerminado(-1), Causa::Interno);
    }

    void terminaTodo() {
        {
            std::lock_guard<std::timed_mutex> cerrojo(servidorMutex_);
            retiraServidor();
        }
        esperaHijos();
    }

private:
    // The server is killed and reaped later, like a closing login: nothing here waits for a
    // process that cannot run. Called with servidorMutex_ held.
    void retiraServidor() {
        servidor_.mata();
        servidorProbado_ = false;
    }

    std::timed_mutex servidorMutex_;
    Hijo servidor_;
    // Whether it has forked a login before: one that has is past its start-up.
    bool servidorProbado_ = false;
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

std::optional<Hijo> lanzaLogin(std::optional<std::chrono::milliseconds> espera) {
    return lanzadera().lanza(espera, mensaje::kLanza);
}

std::optional<Hijo> lanzaTrabajador(std::optional<std::chrono::milliseconds> espera) {
    return lanzadera().lanza(espera, mensaje::kLanzaTrabajador);
}

} // namespace data_access
