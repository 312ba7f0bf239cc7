#include "data_access/CuadrillaLogins.h"

#include "data_access/Lanzadera.h"
#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"

#include <poll.h>
#include <signal.h>
#include <string>
#include <utility>

namespace data_access {

using login_shared::Lectura;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensaje;

namespace {

// How long a worker may take to close its login and wipe it before it is killed,
// when no open is waiting for it.
constexpr std::chrono::milliseconds kEsperaListo{2000};

void mata(pid_t pid) noexcept {
    ::kill(pid, SIGKILL);
    entregaProcesoQueTermina(pid);
}

} // namespace

CuadrillaLogins::~CuadrillaLogins() {
    for (Trabajador& t : libres_) {
        t.canal.cierra();
        entregaProcesoQueTermina(t.pid);
    }
}

std::optional<LoginHijo> CuadrillaLogins::presta(std::optional<std::chrono::milliseconds> espera) {
    std::optional<Trabajador> libre;
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        // The last one back first: its memory is the warmest.
        while (!libre && !libres_.empty()) {
            Trabajador t = std::move(libres_.back());
            libres_.pop_back();
            // An idle worker writes nothing: anything to read, or its end closing, means it has ended.
            pollfd p{t.canal.fd(), POLLIN | POLLRDHUP, 0};
            if (::poll(&p, 1, 0) == 0)
                libre = std::move(t);
            else
                mata(t.pid);
        }
    }
    std::optional<LoginHijo> hijo;
    if (libre) {
        hijo.emplace(LoginHijo(std::move(libre->canal)));
        hijo->pid_ = libre->pid;
    } else {
        hijo = lanzaTrabajador(espera);
    }
    if (hijo)
        hijo->cuadrilla_ = this;
    return hijo;
}

void CuadrillaLogins::recibe(pid_t pid, Descriptor canal,
                             std::optional<std::chrono::milliseconds> espera) noexcept try {
    const auto limite = std::chrono::steady_clock::now() + espera.value_or(kEsperaListo);
    for (;;) {
        const auto queda =
            std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
        char tipo = 0;
        std::string cuerpo;
        if (queda.count() < 0 || recibeMensaje(canal.fd(), tipo, cuerpo, queda) != Lectura::Mensaje)
            break;
        // A stage the relay reported as the login ended says nothing of the worker.
        if (tipo == mensaje::kEtapa)
            continue;
        if (tipo != mensaje::kListo)
            break;
        std::lock_guard<std::mutex> cerrojo(mutex_);
        libres_.push_back({pid, std::move(canal)});
        return;
    }
    canal.cierra();
    mata(pid);
} catch (...) {
    canal.cierra();
    mata(pid);
}

} // namespace data_access
