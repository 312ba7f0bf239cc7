#include "data_access/CuadrillaLogins.h"

#include "data_access/Lanzadera.h"
#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"

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

} // namespace

CuadrillaLogins::~CuadrillaLogins() {
    for (Hijo& t : libres_)
        t.cierra();
}

std::optional<Hijo> CuadrillaLogins::presta(std::optional<std::chrono::milliseconds> espera) {
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        // The last one back first: its memory is the warmest.
        while (!libres_.empty()) {
            Hijo t = std::move(libres_.back());
            libres_.pop_back();
            // An idle worker writes nothing: anything to read, or its end closing, means it has ended.
            if (t.vivo())
                return t;
            t.mata();
        }
    }
    return lanzaTrabajador(espera);
}

void CuadrillaLogins::recibe(Hijo trabajador, std::optional<std::chrono::milliseconds> espera) noexcept try {
    const auto limite = std::chrono::steady_clock::now() + espera.value_or(kEsperaListo);
    for (;;) {
        const auto queda =
            std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
        char tipo = 0;
        std::string cuerpo;
        if (queda.count() < 0 || recibeMensaje(trabajador.canal(), tipo, cuerpo, queda) != Lectura::Mensaje)
            break;
        // A stage the relay reported as the login ended says nothing of the worker.
        if (tipo == mensaje::kEtapa)
            continue;
        if (tipo != mensaje::kListo)
            break;
        std::lock_guard<std::mutex> cerrojo(mutex_);
        libres_.push_back(std::move(trabajador));
        return;
    }
    trabajador.mata();
} catch (...) {
    trabajador.mata();
}

} // namespace data_access
