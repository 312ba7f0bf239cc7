#include "data_access/LoginHijo.h"

#include "data_access/Conexion.h"
#include "data_access/CuadrillaLogins.h"
#include "data_access/Lanzadera.h"
#include "data_access/Textos.h"
#include "login_shared/Canal.h"
#include "login_shared/Descriptor.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"

#include <algorithm>
#include <sys/socket.h>
#include <sys/wait.h>
#include <utility>

namespace data_access {

using login_shared::borraSecreto;
using login_shared::Causa;
using login_shared::Descriptor;
using login_shared::deserializaFallo;
using login_shared::deserializaResumen;
using login_shared::enviaMensaje;
using login_shared::enviaMensajeConDescriptor;
using login_shared::ErrorApertura;
using login_shared::Etapa;
using login_shared::FalloLogin;
using login_shared::Lectura;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::TablaResolucion;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensaje;
using login_shared::serializa;

namespace {

// What the login process needs after the deadline to notice it and report.
constexpr std::chrono::milliseconds kMargenInforme{400};
// How long a process whose channel closed may take to be reaped, for its signal.
constexpr std::chrono::milliseconds kEsperaFinal{500};

} // namespace

LoginHijo::LoginHijo(LoginHijo&& otro) noexcept
    : proceso_(std::move(otro.proceso_)), abierto_(std::exchange(otro.abierto_, false)),
      cuadrilla_(std::exchange(otro.cuadrilla_, nullptr)), fallido_(std::exchange(otro.fallido_, false)),
      esperaListo_(std::exchange(otro.esperaListo_, std::nullopt)), resumen_(std::move(otro.resumen_)),
      versiones_(std::move(otro.versiones_)) {}

LoginHijo& LoginHijo::operator=(LoginHijo&& otro) noexcept {
    if (this != &otro) {
        suelta();
        proceso_ = std::move(otro.proceso_);
        abierto_ = std::exchange(otro.abierto_, false);
        cuadrilla_ = std::exchange(otro.cuadrilla_, nullptr);
        fallido_ = std::exchange(otro.fallido_, false);
        esperaListo_ = std::exchange(otro.esperaListo_, std::nullopt);
        resumen_ = std::move(otro.resumen_);
        versiones_ = std::move(otro.versiones_);
    }
    return *this;
}

LoginHijo::~LoginHijo() {
    suelta();
}

void LoginHijo::suelta() noexcept {
    if (!proceso_.vacio() && cuadrilla_ && (abierto_ || fallido_)) {
        // A worker whose login ended as it should: back to its crew, which kills it unless it says it is
        // ready.
        if (abierto_)
            enviaMensaje(proceso_.canal(), mensaje::kCierra, {});
        abierto_ = fallido_ = false;
        std::exchange(cuadrilla_, nullptr)
            ->recibe(std::move(proceso_), std::exchange(esperaListo_, std::nullopt));
        return;
    }
    if (abierto_ && !proceso_.vacio()) {
        enviaMensaje(proceso_.canal(), mensaje::kCierra, {});
        proceso_.cierra();
    } else {
        proceso_.mata(); // a login that did not open has nothing to close
    }
    abierto_ = false;
}

LoginHijo LoginHijo::lanza(const PeticionLogin& peticion, const Plazo& plazo,
                           const TablaResolucion& resolucionFija, bool plazoDesdeElProceso,
                           CuadrillaLogins* cuadrilla) {
    return lanzaPeticion(mensaje::kPeticion, peticion, plazo, resolucionFija, plazoDesdeElProceso, cuadrilla);
}

login_shared::VersionesTls LoginHijo::sondeaVersionesTls(const PeticionLogin& peticion, const Plazo& plazo,
                                                         const TablaResolucion& resolucionFija,
                                                         CuadrillaLogins* cuadrilla) {
    LoginHijo hijo = lanzaPeticion(mensaje::kSondaTls, peticion, plazo, resolucionFija, true, cuadrilla);
    return std::move(hijo.versiones_);
}

LoginHijo LoginHijo::lanzaPeticion(char tipoPeticion, const PeticionLogin& peticion, const Plazo& plazoPedido,
                                   const TablaResolucion& resolucionFija, bool plazoDesdeElProceso,
                                   CuadrillaLogins* cuadrilla) {
    Plazo plazo = plazoPedido;
    Etapa etapa = Etapa::Preparacion;
    std::string destino = peticion.host;
    const auto espera = [&plazo]() -> std::optional<std::chrono::milliseconds> {
        if (plazo.ilimitado())
            return std::nullopt;
        return plazo.restante() + kMargenInforme;
    };
    std::optional<Hijo> proceso = cuadrilla ? cuadrilla->presta(espera()) : lanzaLogin(espera());
    // The login server never answered, however often it was replaced: the time went here.
    if (!proceso)
        throw ErrorApertura(textos::sinProcesoLoginATiempo(destino, plazo), etapa, Causa::Equipo, {},
                            plazo.transcurrido());
    LoginHijo hijo(std::move(*proceso), cuadrilla);
    if (plazoDesdeElProceso && !plazo.ilimitado())
        plazo = Plazo(plazo.limite());
    const int canal = hijo.proceso_.canal();
    // The process reports where the login stands on a channel of its own, read only when a
    // failure names it: a login's half-dozen stages would otherwise each wake this thread.
    // Without one (no descriptor to spare), the stages come on `canal` as its other messages.
    Descriptor etapas, etapasDelProceso;
    if (int par[2]; ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, par) == 0) {
        etapas = Descriptor(par[0]);
        etapasDelProceso = Descriptor(par[1]);
    }
    const auto anotaEtapa = [&](const std::string& cuerpo) {
        if (cuerpo.empty())
            return;
        etapa = Etapa(cuerpo[0]);
        if (cuerpo.size() > 1)
            destino = cuerpo.substr(1);
    };
    // Everything the process sent on its stages' channel before what is being read on `canal`
    // is already there: both ends of a local socket, written in that order.
    const auto leeEtapas = [&] {
        char tipo = 0;
        std::string cuerpo;
        while (etapas.fd() >= 0 &&
               recibeMensaje(etapas.fd(), tipo, cuerpo, std::chrono::milliseconds(0)) == Lectura::Mensaje)
            if (tipo == mensaje::kEtapa)
                anotaEtapa(cuerpo);
    };
    // Thrown after the process is killed and handed to the reaper.
    const auto falla = [&](const FalloLogin& fallo) {
        leeEtapas();
        hijo.suelta();
        ErrorApertura error(fallo.descripcion, etapa, fallo.causa, fallo.versionServidor, fallo.transcurrido);
        error.anotaRespuesta(fallo.errorServidor, fallo.pruebaEnviada);
        throw error;
    };
    const auto fallaInterno = [&](std::string descripcion) {
        falla({Causa::Interno, std::move(descripcion), {}, {}, {}, false});
    };
    // What the process said of its failure; a body that cannot be read is its own failure.
    const auto fallaDicho = [&](const std::string& cuerpo) {
        FalloLogin fallo;
        try {
            fallo = deserializaFallo(cuerpo);
        } catch (const std::exception&) {
            fallaInterno(textos::respuestaProcesoLoginIlegible());
        }
        falla(fallo);
    };
    {
        PeticionLogin conTiempo = peticion;
        conTiempo.limite = plazo.ilimitado() ? std::nullopt : std::optional(plazo.limite());
        conTiempo.transcurrido = plazo.transcurrido();
        std::string cuerpo = serializa(conTiempo);
        const bool enviada = (resolucionFija.empty() ||
                              enviaMensaje(canal, mensaje::kResolucionFija, serializa(resolucionFija))) &&
                             enviaMensajeConDescriptor(canal, tipoPeticion, cuerpo, etapasDelProceso.fd());
        borraSecreto(cuerpo);
        etapasDelProceso.cierra();
        if (!enviada) {
            // A process that could not even start its work may have said why before ending.
            char tipo = mensaje::kEnMarcha;
            std::string motivo;
            while (tipo == mensaje::kEnMarcha)
                if (recibeMensaje(canal, tipo, motivo, std::chrono::milliseconds(0)) != Lectura::Mensaje)
                    break;
            if (tipo == mensaje::kFallo)
                fallaDicho(motivo);
            fallaInterno(textos::procesoLoginTerminado(-1));
        }
    }

    bool prorrogado = false;
    for (;;) {
        char tipo = 0;
        std::string cuerpo;
        const auto antes = Plazo::Reloj::now();
        const auto paciencia = espera();
        const Lectura lectura = recibeMensaje(canal, tipo, cuerpo, paciencia);
        // Woken well past its wait, this process did not run either (stopped with its login
        // process, as Ctrl+Z stops a whole job): the login process gets its margin once more
        // to tell what happened, before it is taken for the one that failed.
        if (lectura == Lectura::Agotada && !prorrogado && paciencia &&
            Plazo::Reloj::now() - antes > *paciencia + kMargenInforme) {
            prorrogado = true;
            continue;
        }
        switch (lectura) {
        case Lectura::Agotada:
            leeEtapas();
            hijo.suelta();
            throw ErrorApertura(textos::procesoLoginSinRespuesta(etapa, destino, plazo), etapa, Causa::Equipo,
                                {}, plazo.transcurrido());
        case Lectura::Ilegible:
            fallaInterno(textos::respuestaProcesoLoginIlegible());
            break;
        case Lectura::Fin: {
            leeEtapas();
            // The process ended without answering: reaped for its signal, never waited for unbounded.
            const int estado = hijo.proceso_.recoge(std::min(kEsperaFinal, espera().value_or(kEsperaFinal)));
            throw ErrorApertura(textos::procesoLoginTerminado(WIFSIGNALED(estado) ? WTERMSIG(estado) : -1),
                                etapa, Causa::Interno);
        }
        case Lectura::Mensaje:
            break;
        }
        // kEnMarcha, the process's pid, is the server's to tell: it told it already.
        if (tipo == mensaje::kEtapa) {
            anotaEtapa(cuerpo);
        } else if (tipo == mensaje::kAbierta) {
            try {
                hijo.resumen_ = deserializaResumen(cuerpo);
            } catch (const std::exception&) {
                fallaInterno(textos::respuestaProcesoLoginIlegible());
            }
            hijo.abierto_ = true;
            return hijo;
        } else if (tipo == mensaje::kVersionesTls && tipoPeticion == mensaje::kSondaTls) {
            try {
                hijo.versiones_ = login_shared::deserializaVersionesTls(cuerpo);
            } catch (const std::exception&) {
                fallaInterno(textos::respuestaProcesoLoginIlegible());
            }
            // Nothing open: a worker goes back to its crew once it says it is ready.
            hijo.fallido_ = true;
            hijo.esperaListo_ = espera();
            return hijo;
        } else if (tipo == mensaje::kFallo) {
            FalloLogin fallo;
            try {
                fallo = deserializaFallo(cuerpo);
            } catch (const std::exception&) {
                fallaInterno(textos::respuestaProcesoLoginIlegible());
            }
            // A worker that failed cleanly may serve again, once it says it is ready.
            hijo.fallido_ = true;
            hijo.esperaListo_ = espera();
            falla(fallo);
        }
    }
}

} // namespace data_access
