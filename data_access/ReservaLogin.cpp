#include "data_access/ReservaLogin.h"

#include "login_shared/Plazo.h"

#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace data_access {

namespace {

struct EnEspera {
    PerfilArranque perfil;
    ProcesoArrancado proceso;
};

// A waiting process writes nothing before its request: anything to read,
// or the channel closing, means it has ended.
bool sigueEsperando(const ProcesoArrancado& p) {
    pollfd f{p.canal, POLLIN, 0};
    return ::poll(&f, 1, 0) == 0;
}

void termina(ProcesoArrancado& p) {
    ::close(p.canal); // a waiting process ends when its channel closes
    ::kill(p.pid, SIGKILL);
    terminaHijo(p.pid, std::chrono::milliseconds(0));
}

// How long a closing login may take before it is killed.
constexpr std::chrono::milliseconds kEsperaCierre{2000};

struct QueTermina {
    pid_t pid;
    Plazo::Reloj::time_point limite;
};

class Reserva {
public:
    ~Reserva() { terminaTodos(); }

    std::optional<ProcesoArrancado> toma(const PerfilArranque& perfil) {
        std::vector<EnEspera> descartados;
        std::optional<ProcesoArrancado> tomado;
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            recogeTerminados();
            for (auto e = procesos_.begin(); e != procesos_.end();) {
                if (e->perfil.prioridadesTls != perfil.prioridadesTls) {
                    ++e;
                    continue;
                }
                // The generation's one slot: used if nothing has changed since, else let go.
                if (!tomado && e->perfil == perfil && sigueEsperando(e->proceso))
                    tomado = e->proceso;
                else
                    descartados.push_back(*e);
                e = procesos_.erase(e);
            }
        }
        for (EnEspera& e : descartados)
            termina(e.proceso);
        return tomado;
    }

    void repone(const PerfilArranque& perfil) {
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            recogeTerminados();
            // Logins ending at once on several threads would each start one
            // otherwise, and all but one would be killed unused.
            if (arrancando_.count(perfil.prioridadesTls) != 0)
                return;
            for (const EnEspera& e : procesos_)
                if (e.perfil.prioridadesTls == perfil.prioridadesTls)
                    return;
            arrancando_.insert(perfil.prioridadesTls);
        }
        struct Arrancado {
            Reserva& reserva;
            const std::string& prioridades;
            ~Arrancado() {
                std::lock_guard<std::mutex> cerrojo(reserva.mutex_);
                reserva.arrancando_.erase(prioridades);
            }
        } arrancado{*this, perfil.prioridadesTls};
        EnEspera nuevo{perfil, arrancaProcesoLogin(perfil)};
        std::lock_guard<std::mutex> cerrojo(mutex_);
        procesos_.push_back(std::move(nuevo));
    }

    void entrega(pid_t pid) {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        recogeTerminados();
        terminando_.push_back({pid, Plazo::Reloj::now() + kEsperaCierre});
    }

    void terminaTodos() {
        std::vector<EnEspera> todos;
        std::vector<QueTermina> terminando;
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            todos.swap(procesos_);
            terminando.swap(terminando_);
        }
        for (EnEspera& e : todos)
            termina(e.proceso);
        for (const QueTermina& t : terminando)
            terminaHijo(
                t.pid, std::chrono::duration_cast<std::chrono::milliseconds>(t.limite - Plazo::Reloj::now()));
    }

private:
    // Reaps the closing processes that have ended; kills those past their time.
    void recogeTerminados() {
        const auto ahora = Plazo::Reloj::now();
        for (auto t = terminando_.begin(); t != terminando_.end();) {
            if (ahora >= t->limite)
                ::kill(t->pid, SIGKILL);
            const pid_t r = ::waitpid(t->pid, nullptr, ahora >= t->limite ? 0 : WNOHANG);
            t = r == 0 ? t + 1 : terminando_.erase(t);
        }
    }

    std::mutex mutex_;
    std::vector<EnEspera> procesos_;
    std::vector<QueTermina> terminando_;
    std::set<std::string> arrancando_; // generations whose waiting process is being started
};

Reserva& reserva() {
    static Reserva r;
    return r;
}

} // namespace

ProcesoArrancado tomaProcesoLogin(const PerfilArranque& perfil) {
    if (auto p = reserva().toma(perfil))
        return *p;
    return arrancaProcesoLogin(perfil);
}

void reponeProcesoLogin(const PerfilArranque& perfil) noexcept {
    try {
        reserva().repone(perfil);
    } catch (...) {
    }
}

void entregaProcesoQueTermina(pid_t pid) noexcept {
    try {
        reserva().entrega(pid);
    } catch (...) {
        terminaHijo(pid, kEsperaCierre);
    }
}

void terminaProcesosEnEspera() noexcept {
    reserva().terminaTodos();
}

} // namespace data_access
