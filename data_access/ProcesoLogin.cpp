#include "data_access/ProcesoLogin.h"

#include "data_access/Conexion.h"
#include "data_access/ReservaLogin.h"
#include "login_shared/Textos.h"

#include <signal.h>
#include <sys/wait.h>

namespace data_access {

namespace {

// What the login process needs after the deadline to notice it and report.
constexpr std::chrono::milliseconds kMargenInforme{400};
// How long a process whose channel closed may take to be reaped, for its signal.
constexpr std::chrono::milliseconds kEsperaFinal{500};

} // namespace

std::unique_ptr<ProcesoLogin> ProcesoLogin::abre(const PeticionLogin& peticion, const Plazo& plazo) {
    const PerfilArranque perfil = perfilArranque();
    const ProcesoArrancado arrancado = tomaProcesoLogin(perfil);
    // The next open's process starts once this login has answered, either way:
    // started during the login, its loading would compete with it for the CPU.
    struct Repone {
        const PerfilArranque& perfil;
        ~Repone() { reponeProcesoLogin(perfil); }
    } repone{perfil};
    const int canal = arrancado.canal;
    std::unique_ptr<ProcesoLogin> proceso(new ProcesoLogin(arrancado.pid, canal));

    Etapa etapa = Etapa::Preparacion;
    std::string destino = peticion.host;
    const auto falla = [&](std::string descripcion) {
        // Killed, not closed: a login that failed has nothing to close.
        ::kill(proceso->pid_, SIGKILL);
        entregaProcesoQueTermina(proceso->pid_);
        cierraFd(proceso->canal_);
        proceso->pid_ = -1;
        throw ErrorApertura(descripcion, int(etapa));
    };
    {
        PeticionLogin conTiempo = peticion;
        conTiempo.limite = plazo.ilimitado() ? std::nullopt : std::optional(plazo.limite());
        conTiempo.transcurrido = plazo.transcurrido();
        std::string cuerpo = serializa(conTiempo);
        const bool enviada = enviaMensaje(canal, mensaje::kPeticion, cuerpo);
        borraSecreto(cuerpo);
        if (!enviada) {
            // A process that could not even start its work may have said why before ending.
            char tipo = 0;
            std::string motivo;
            if (recibeMensaje(canal, tipo, motivo, std::chrono::milliseconds(0)) == Lectura::Mensaje &&
                tipo == mensaje::kFallo)
                falla(motivo);
            falla(textos::procesoLoginTerminado(-1));
        }
    }

    for (;;) {
        std::optional<std::chrono::milliseconds> espera;
        if (!plazo.ilimitado())
            espera = plazo.restante() + kMargenInforme;
        char tipo = 0;
        std::string cuerpo;
        switch (recibeMensaje(canal, tipo, cuerpo, espera)) {
        case Lectura::Agotada:
            falla(textos::tiempoAgotadoEn(etapa, destino, plazo, peticion.credenciales.integrada));
            break;
        case Lectura::Ilegible:
            falla(textos::respuestaProcesoLoginIlegible());
            break;
        case Lectura::Fin: {
            // The process ended without answering: reaped for its signal, never waited for unbounded.
            const int estado = terminaHijo(proceso->pid_, kEsperaFinal);
            proceso->pid_ = -1;
            cierraFd(proceso->canal_);
            throw ErrorApertura(textos::procesoLoginTerminado(WIFSIGNALED(estado) ? WTERMSIG(estado) : -1),
                                int(etapa));
        }
        case Lectura::Mensaje:
            break;
        }
        if (tipo == mensaje::kEtapa && !cuerpo.empty()) {
            etapa = Etapa(cuerpo[0]);
            if (cuerpo.size() > 1)
                destino = cuerpo.substr(1);
        } else if (tipo == mensaje::kAbierta) {
            try {
                proceso->resumen_ = deserializaResumen(cuerpo);
            } catch (const std::exception&) {
                falla(textos::respuestaProcesoLoginIlegible());
            }
            return proceso;
        } else if (tipo == mensaje::kFallo) {
            falla(cuerpo);
        }
    }
}

ProcesoLogin::~ProcesoLogin() {
    if (pid_ < 0)
        return;
    enviaMensaje(canal_, mensaje::kCierra, {});
    cierraFd(canal_);
    // The process closes the login and ends on its own; tearing it down takes
    // the kernel about a millisecond, which close() need not wait for.
    entregaProcesoQueTermina(pid_);
}

} // namespace data_access
