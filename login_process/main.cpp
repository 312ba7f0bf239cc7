// tarpelino-login: started once by the application as a login server on
// descriptor 3 (ServidorLogins.h), it forks one process per open. Each runs
// one login to SQL Server through db-lib on behalf of a connection object,
// which talks to it over its own channel (descriptor 3 in the child) and may
// kill it at the open's deadline. It stays while the connection is open and
// ends when told to close or when the connection object goes away.
#include "login_process/ConPlazo.h"
#include "login_process/InicioSesion.h"
#include "login_process/PrioridadGeneracion.h"
#include "login_process/ServidorLogins.h"
#include "login_process/SesionFreeTds.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/ProtocoloLogin.h"
#include "login_shared/Textos.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace data_access;

namespace {

constexpr int kCanal = 3;

// The application's end of the channel closes when it dies, however it
// dies: the login, and its connection to the server, end with it at once
// rather than at their deadline (or never, with no deadline).
void terminaConLaAplicacion() {
    std::thread([] {
        pollfd p{kCanal, POLLRDHUP, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        ::_exit(3);
    }).detach();
}

// A thread, socket or descriptor the system refused: which limit, in Spanish.
FalloLogin falloDelSistema(const std::system_error& e) {
    if (const auto limite = textos::limiteDelSistema(e.code().value()))
        return {Causa::Sistema, *limite, {}, {}};
    return {Causa::Interno, textos::errorInterno(e.what()), {}, {}};
}

// One login on kCanal, in a process forked for it; `aviso` goes at the end of a failure's description.
int atiendeLogin(const std::string& aviso) {
    try {
        terminaConLaAplicacion();
    } catch (const std::system_error& e) {
        // No thread to be had: the answer waits for the request it will be read after.
        enviaMensaje(kCanal, mensaje::kFallo, serializa(falloDelSistema(e)));
        return 1;
    }
    char tipo = 0;
    std::string cuerpo;
    if (!recibeMensaje(kCanal, tipo, cuerpo))
        return 2;
    TablaResolucion resolucionFija;
    if (tipo == mensaje::kResolucionFija) {
        try {
            resolucionFija = deserializaTabla(cuerpo);
        } catch (const std::exception&) {
            return 2;
        }
        if (!recibeMensaje(kCanal, tipo, cuerpo))
            return 2;
    }
    if (tipo != mensaje::kPeticion)
        return 2;

    std::mutex escritura; // stages come from the relay's thread too
    const auto envia = [&](char t, const std::string& c) {
        std::lock_guard<std::mutex> cerrojo(escritura);
        enviaMensaje(kCanal, t, c);
    };
    // The open's budget as the parent counts it: a failure says how much of it went.
    std::optional<Plazo> plazo;
    const auto transcurrido = [&]() -> std::optional<std::chrono::milliseconds> {
        return plazo ? std::optional(plazo->transcurrido()) : std::nullopt;
    };
    const auto informaFallo = [&](FalloLogin fallo) {
        if (!aviso.empty())
            fallo.descripcion += "\n" + aviso;
        if (!fallo.transcurrido)
            fallo.transcurrido = transcurrido();
        envia(mensaje::kFallo, serializa(fallo));
    };
    try {
        PeticionLogin peticion = deserializa(cuerpo);
        borraSecreto(cuerpo);
        fijaPrioridadTls(peticion.prioridadTls);
        plazo.emplace(peticion.limite, peticion.transcurrido);
        auto login = iniciaSesion(
            peticion, *plazo,
            [&](Etapa etapa, const std::string& destino) {
                envia(mensaje::kEtapa, std::string(1, char(etapa)) + destino);
            },
            resolucionFija);
        borraSecreto(peticion.credenciales.password);
        envia(mensaje::kAbierta, serializa(login->resumen()));
        // Anything, or the other end going away, closes the login.
        recibeMensaje(kCanal, tipo, cuerpo);
        return 0;
    } catch (const ErrorApertura& e) {
        informaFallo({e.causa(), e.what(), e.versionServidor(), e.transcurrido()});
    } catch (const ErrorConexion& e) {
        informaFallo({e.causa(), e.what(), {}, {}});
    } catch (const std::system_error& e) {
        informaFallo(falloDelSistema(e));
    } catch (const std::exception& e) {
        informaFallo({Causa::Interno, textos::errorInterno(e.what()), {}, {}});
    }
    return 1;
}

} // namespace

int main() {
    // Holds a password: no core file, and no other process of the user may read
    // its memory. Set before the first fork: every login process inherits it.
    ::prctl(PR_SET_DUMPABLE, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // What every login needs, made ready once in the server.
    preparaDbLib();
    const std::string aviso = sirveLogins(kCanal);
    // Only a forked login process gets here; its exit runs the usual teardown.
    const int estado = atiendeLogin(aviso);
    // A Kerberos call still waiting on its KDC must not meet the library's teardown.
    if (hayTrabajoAbandonado())
        ::_exit(estado);
    return estado;
}
