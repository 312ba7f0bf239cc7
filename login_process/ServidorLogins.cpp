#include "login_process/ServidorLogins.h"

#include "login_process/JuicioCertificado.h"
#include "login_process/Textos.h"
#include "login_shared/Canal.h"
#include "login_shared/Descriptor.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Peticion.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace login_process {

using login_shared::Descriptor;
using login_shared::deserializaLanzamiento;
using login_shared::enviaMensaje;
using login_shared::Lanzamiento;
namespace mensaje = login_shared::mensaje;
using login_shared::recibeMensajeConDescriptor;

namespace {

// GnuTLS reads its system priority file (the memfd the application gave the
// server) when the first priority is set up: done once here, not per login.
void preparaGnuTls() {
    gnutls_priority_t prioridad = nullptr;
    if (gnutls_priority_init2(&prioridad, "NORMAL", nullptr, 0) == GNUTLS_E_SUCCESS)
        gnutls_priority_deinit(prioridad);
    // Every encrypted login judges the certificate as a current driver would.
    preparaConfianzaDelSistema();
}

// In the child, before anything reads them: the open's environment (the
// server's is the one it was started with) and its working directory, entered
// through the descriptor the open sent. A folder that cannot be entered is left
// out rather than failing the login: the child goes on from "/", so that no
// relative path is read from the server's own folder, and says so.
std::string aplica(const Lanzamiento& lanzamiento, const std::string& prioridades, Descriptor carpeta) {
    ::clearenv();
    for (const std::string& variable : lanzamiento.entorno) {
        const auto igual = variable.find('=');
        if (igual != std::string::npos && igual > 0)
            ::setenv(variable.substr(0, igual).c_str(), variable.c_str() + igual + 1, 1);
    }
    // The application never sends it: the file is the server's descriptor, which the child shares.
    if (!prioridades.empty())
        ::setenv("GNUTLS_SYSTEM_PRIORITY_FILE", prioridades.c_str(), 1);
    const int error = carpeta.fd() < 0 ? ENOENT : ::fchdir(carpeta.fd()) == 0 ? 0 : errno;
    carpeta.cierra();
    if (error == 0)
        return {};
    [[maybe_unused]] const int raiz = ::chdir("/");
    return textos::sinCarpetaDeTrabajo(lanzamiento.directorio, error);
}

} // namespace

LoginLanzado sirveLogins(int canal) {
    ::prctl(PR_SET_NAME, "tarpelino-lanza");
    const char* archivoPrioridades = std::getenv("GNUTLS_SYSTEM_PRIORITY_FILE");
    const std::string prioridades = archivoPrioridades ? archivoPrioridades : "";
    preparaGnuTls();
    for (;;) {
        // The application's end closing, however it died, ends the server at once.
        pollfd p{canal, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            ::_exit(4);
        }
        if (p.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL))
            ::_exit(0);
        char tipo = 0;
        std::string cuerpo;
        int recibido = -1;
        int carpetaRecibida = -1;
        int errorDescriptor = 0;
        if (!recibeMensajeConDescriptor(canal, tipo, cuerpo, recibido, errorDescriptor, &carpetaRecibida))
            ::_exit(0);
        Descriptor login(recibido);
        Descriptor carpeta(carpetaRecibida);
        std::optional<Lanzamiento> lanzamiento;
        try {
            lanzamiento = deserializaLanzamiento(cuerpo);
        } catch (const std::exception&) {
        }
        long respuesta = -EPROTO;
        if (login.fd() < 0 && errorDescriptor != 0) {
            respuesta = -errorDescriptor;
        } else if ((tipo == mensaje::kLanza || tipo == mensaje::kLanzaTrabajador) && lanzamiento &&
                   login.fd() >= 0) {
            // The child is the application's own (CLONE_PARENT): the application
            // waits for it and kills it by pid with no reuse race, as for a child it
            // started itself. A raw clone runs none of glibc's fork handlers, safe
            // only because this process has one thread.
            const long pid = ::syscall(SYS_clone, CLONE_PARENT | SIGCHLD, nullptr, nullptr, nullptr, nullptr);
            if (pid == 0) {
                ::close(canal);
                ::dup2(login.fd(), canal);
                login.cierra();
                ::prctl(PR_SET_NAME, "tarpelino-login");
                if (!enviaMensaje(canal, mensaje::kEnMarcha, std::to_string(::getpid())))
                    ::_exit(0);
                // GnuTLS learns of a fork through its pthread_atfork handler, which a
                // raw clone skips: its generator must not repeat the server's or a sibling's.
                gnutls_rnd_refresh();
                return {tipo == mensaje::kLanzaTrabajador,
                        aplica(*lanzamiento, prioridades, std::move(carpeta))};
            }
            respuesta = pid < 0 ? -errno : pid;
        }
        // The login's channel and the open's folder are the child's alone from here.
        login.cierra();
        carpeta.cierra();
        if (!enviaMensaje(canal, mensaje::kLanzado, std::to_string(respuesta)))
            ::_exit(0);
    }
}

} // namespace login_process
