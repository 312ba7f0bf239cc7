// tarpelino-login: started once by the application as a login server on
// descriptor 3 (ServidorLogins.h), it forks one process per open (or, for an
// estate run, one per worker, which runs that run's logins one after another).
// Each runs one login to SQL Server through db-lib on behalf of a connection object,
// which talks to it over its own channel (descriptor 3 in the child) and may
// kill it at the open's deadline. It stays while the connection is open and
// ends when told to close or when the connection object goes away.
#include "login_process/ConPlazo.h"
#include "login_process/DescriptoresProceso.h"
#include "login_process/InicioSesion.h"
#include "login_process/PrioridadGeneracion.h"
#include "login_process/ServidorLogins.h"
#include "login_process/SesionFreeTds.h"
#include "login_process/Textos.h"
#include "login_shared/Canal.h"
#include "login_shared/Causa.h"
#include "login_shared/Descriptor.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"

#include <cerrno>
#include <csignal>
#include <malloc.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace login_process;
using login_shared::borraSecreto;
using login_shared::Causa;
using login_shared::Descriptor;
using login_shared::deserializa;
using login_shared::deserializaTabla;
using login_shared::enviaMensaje;
using login_shared::ErrorApertura;
using login_shared::ErrorConexion;
using login_shared::Etapa;
using login_shared::FalloLogin;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::recibeMensaje;
using login_shared::recibeMensajeConDescriptor;
using login_shared::serializa;
using login_shared::TablaResolucion;
namespace mensaje = login_shared::mensaje;
namespace textos = login_process::textos;

namespace {

constexpr int kCanal = login_shared::kDescriptorCanal;

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
        return {Causa::Sistema, *limite, {}, {}, {}, false};
    return {Causa::Interno, textos::errorInterno(e.what()), {}, {}, {}, false};
}

// Starts the watch on the application's end of kCanal; false, with the
// reason sent, when the system has no thread for it.
bool vigilaLaAplicacion() {
    try {
        terminaConLaAplicacion();
        return true;
    } catch (const std::system_error& e) {
        // No thread to be had: the answer waits for the request it will be read after.
        enviaMensaje(kCanal, mensaje::kFallo, serializa(falloDelSistema(e)));
        return false;
    }
}

// What one login on kCanal came to.
enum class Atendido {
    Cerrado,    // logged in, and closed when asked
    Fallido,    // kFallo sent
    Integrado,  // either of those, for integrated security (Kerberos)
    Sondeado,   // a server's TLS versions found and sent, without a login
    SinPeticion // no request could be read: the channel closed, or a stray message came
};

// One login on kCanal: its request, the login, its answer and, when it
// opened, the wait for the word to close it. Every copy of the password
// this code made is wiped by the time it returns. `aviso` goes at the end of a
// failure's description. A kSondaTls in its place finds the server's TLS versions instead.
Atendido atiendeLogin(const std::string& aviso) {
    char tipo = 0;
    std::string cuerpo;
    // The request comes with the channel for the login's stages; none (the application had no
    // descriptor to spare, or this process has none left): they go on kCanal.
    Descriptor etapas;
    const auto recibe = [&] {
        int fd = -1, error = 0;
        const bool leido = recibeMensajeConDescriptor(kCanal, tipo, cuerpo, fd, error);
        etapas = Descriptor(fd);
        return leido;
    };
    if (!recibe())
        return Atendido::SinPeticion;
    TablaResolucion resolucionFija;
    if (tipo == mensaje::kResolucionFija) {
        try {
            resolucionFija = deserializaTabla(cuerpo);
        } catch (const std::exception&) {
            return Atendido::SinPeticion;
        }
        if (!recibe())
            return Atendido::SinPeticion;
    }
    if (tipo != mensaje::kPeticion && tipo != mensaje::kSondaTls) {
        borraSecreto(cuerpo);
        return Atendido::SinPeticion;
    }

    std::mutex escritura; // stages come from the relay's thread too
    const auto envia = [&](char t, const std::string& c) {
        std::lock_guard<std::mutex> cerrojo(escritura);
        enviaMensaje(t == mensaje::kEtapa && etapas.fd() >= 0 ? etapas.fd() : kCanal, t, c);
    };
    // The open's budget as the parent counts it: a failure says how much of it went.
    std::optional<Plazo> plazo;
    const auto informaFallo = [&](FalloLogin fallo) {
        if (!fallo.transcurrido && plazo)
            fallo.transcurrido = plazo->transcurrido();
        if (!aviso.empty())
            fallo.descripcion += "\n" + aviso;
        envia(mensaje::kFallo, serializa(fallo));
    };
    bool integrada = false;
    try {
        PeticionLogin peticion = deserializa(cuerpo);
        borraSecreto(cuerpo);
        if (tipo == mensaje::kSondaTls) {
            plazo.emplace(peticion.limite, peticion.transcurrido);
            const auto versiones = sondeaVersionesTls(
                peticion, *plazo,
                [&](Etapa etapa, const std::string& destino) {
                    envia(mensaje::kEtapa, std::string(1, char(etapa)) + destino);
                },
                resolucionFija);
            envia(mensaje::kVersionesTls, serializa(versiones));
            return Atendido::Sondeado;
        }
        integrada = peticion.credenciales.integrada;
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
        return integrada ? Atendido::Integrado : Atendido::Cerrado;
    } catch (const ErrorApertura& e) {
        informaFallo({e.causa(), e.what(), e.versionServidor(), e.transcurrido(), e.errorServidor(),
                      e.pruebaEnviada()});
    } catch (const ErrorConexion& e) {
        informaFallo({e.causa(), e.what(), {}, {}, {}, false});
    } catch (const std::system_error& e) {
        informaFallo(falloDelSistema(e));
    } catch (const std::exception& e) {
        informaFallo({Causa::Interno, textos::errorInterno(e.what()), {}, {}, {}, false});
    }
    borraSecreto(cuerpo);
    return integrada ? Atendido::Integrado : Atendido::Fallido;
}

int estadoDeSalida(Atendido a) {
    return a == Atendido::Cerrado || a == Atendido::Sondeado ? 0 : a == Atendido::SinPeticion ? 2 : 1;
}

// Logins a worker serves before it ends and a new one takes its place: whatever a
// library keeps growing, slowly, never grows far.
constexpr int kLoginsPorTrabajador = 200;

// One login after another, for a worker of an estate run. A login leaves
// nothing a later one could meet: the worker goes on only when the login is
// over and wiped, no work of it is still running, the process holds the
// descriptors it held before, and it did not use Kerberos (whose library
// keeps state of its own in the process). Otherwise it ends, and the
// application starts another; it kills one that does not answer in time.
int atiendeLogins(const std::string& aviso) {
    // Each login's memory, freed at its end, is the next one's: not given back to the system to be
    // asked for again, page by page.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    const int descriptores = descriptoresAbiertos();
    for (int n = 1;; ++n) {
        const Atendido atendido = atiendeLogin(aviso);
        const bool limpio = (atendido == Atendido::Cerrado || atendido == Atendido::Fallido ||
                             atendido == Atendido::Sondeado) &&
                            !hayTrabajoAbandonado() && descriptoresAbiertos() == descriptores;
        if (!limpio || n == kLoginsPorTrabajador || !enviaMensaje(kCanal, mensaje::kListo, {}))
            return estadoDeSalida(atendido);
    }
}

} // namespace

int main() {
    // Holds a password: no core file, and no other process of the user may read
    // its memory. Set before the first fork: every login process inherits it.
    ::prctl(PR_SET_DUMPABLE, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // What every login needs, made ready once in the server.
    preparaDbLib();
    try {
        Relevo::puertoLocal();
    } catch (const std::system_error&) {
        // The first login tries again, and says why it cannot.
    }
    const LoginLanzado lanzado = sirveLogins(kCanal);
    // Only a forked login process gets here; its exit runs the usual teardown.
    int estado = 1;
    if (vigilaLaAplicacion())
        estado =
            lanzado.trabajador ? atiendeLogins(lanzado.aviso) : estadoDeSalida(atiendeLogin(lanzado.aviso));
    // A Kerberos call still waiting on its KDC must not meet the library's teardown.
    if (hayTrabajoAbandonado())
        ::_exit(estado);
    return estado;
}
