#include "data_access/LanzamientoLogin.h"

#include "data_access/Conexion.h"
#include "data_access/Textos.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Peticion.h"

#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

namespace data_access {

using login_shared::Causa;
using login_shared::ErrorConexion;
using login_shared::Lanzamiento;

namespace {

// FreeTDS lets these override what the program asks for (the TDS version
// above all), or writes logs with them, and GnuTLS writes every session's
// secrets to SSLKEYLOGFILE, which with a capture decrypts LOGIN7 and its
// password; the login process never sees them.
constexpr std::array<std::string_view, 9> kVariablesOcultas{
    "TDSVER",       "TDSPORT",       "TDSHOST", "TDSQUERY",
    "TDSDUMP",      "TDSDUMPCONFIG", "SYBASE",  "GNUTLS_SYSTEM_PRIORITY_FILE",
    "SSLKEYLOGFILE"};

// The descriptors the login server finds its channel and its TLS settings on.
constexpr int kFdCanal = login_shared::kDescriptorCanal;
constexpr int kFdPrioridadesTls = login_shared::kDescriptorPrioridadesTls;

// GnuTLS's system priority file applies its [overrides] to every session of
// the process and is read once. The login server, and so every login process
// forked from it, gets this one instead of
// the user's, so that no local policy changes what an era's client offered;
// the generation's versions and suites come with the request
// (PrioridadGeneracion.cpp), and every session may still use TLS 1.2: the
// strict-encryption probe needs it whatever the generation. TLS 1.3 stays off:
// FreeTDS 1.3.17 cannot finish its handshake.
constexpr std::string_view kPrioridadesTls =
    "[overrides]\ndisabled-version = ssl3.0\ndisabled-version = tls1.3\n";

std::vector<std::string> entornoLimpio() {
    std::vector<std::string> entorno;
    for (char** v = environ; v && *v; ++v) {
        const std::string_view variable(*v);
        const std::string_view nombre = variable.substr(0, variable.find('='));
        bool oculta = false;
        for (std::string_view o : kVariablesOcultas)
            oculta = oculta || nombre == o;
        if (!oculta)
            entorno.emplace_back(variable);
    }
    return entorno;
}

std::string directorioActual() {
    char ruta[PATH_MAX];
    return ::getcwd(ruta, sizeof ruta) ? ruta : "";
}

// A descriptor above the ones the child's are copied to, so that no copy
// clobbers another; throws when the system has no descriptor left for it.
Descriptor fueraDelCamino(Descriptor fd) {
    Descriptor alto(::fcntl(fd.fd(), F_DUPFD_CLOEXEC, kFdPrioridadesTls + 1));
    const int error = errno;
    if (alto.fd() < 0)
        throw ErrorConexion(textos::procesoLoginNoSeLanza(rutaProcesoLogin(), error), Causa::Sistema);
    return alto;
}

pid_t lanza(const Descriptor& canalHijo) {
    const std::string ruta = rutaProcesoLogin();
    if (ruta.empty())
        throw ErrorConexion(textos::procesoLoginNoInstalado(), Causa::Sistema);
    const std::string_view prioridades = kPrioridadesTls;
    Descriptor escrito(::memfd_create("gnutls-priorities", MFD_CLOEXEC));
    if (escrito.fd() < 0 ||
        ::write(escrito.fd(), prioridades.data(), prioridades.size()) != ssize_t(prioridades.size()))
        throw ErrorConexion(textos::procesoLoginNoSeLanza(ruta, errno), Causa::Sistema);
    const Descriptor fdPrioridades = fueraDelCamino(std::move(escrito));
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    // Only these two reach the server, whatever the application left without
    // close-on-exec: a process that lives as long as the application must not hold a pipe open.
    posix_spawn_file_actions_adddup2(&acciones, canalHijo.fd(), kFdCanal);
    posix_spawn_file_actions_adddup2(&acciones, fdPrioridades.fd(), kFdPrioridadesTls);
    posix_spawn_file_actions_addclosefrom_np(&acciones, kFdPrioridadesTls + 1);
    posix_spawnattr_t atributos;
    posix_spawnattr_init(&atributos);
    sigset_t vacio;
    sigemptyset(&vacio);
    posix_spawnattr_setsigmask(&atributos, &vacio);
    sigset_t porDefecto;
    sigemptyset(&porDefecto);
    sigaddset(&porDefecto, SIGPIPE);
    sigaddset(&porDefecto, SIGTERM);
    sigaddset(&porDefecto, SIGINT);
    posix_spawnattr_setsigdefault(&atributos, &porDefecto);
    posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> entorno = entornoLimpio();
    entorno.push_back("GNUTLS_SYSTEM_PRIORITY_FILE=/proc/self/fd/" + std::to_string(kFdPrioridadesTls));
    std::vector<char*> envp;
    for (std::string& v : entorno)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string nombre = "tarpelino-login";
    char* argv[] = {nombre.data(), nullptr};

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, ruta.c_str(), &acciones, &atributos, argv, envp.data());
    posix_spawn_file_actions_destroy(&acciones);
    posix_spawnattr_destroy(&atributos);
    if (error != 0)
        throw ErrorConexion(textos::procesoLoginNoSeLanza(ruta, error), Causa::Sistema);
    return pid;
}

} // namespace

Lanzamiento lanzamientoActual() {
    return {entornoLimpio(), directorioActual()};
}

std::pair<Descriptor, Descriptor> parDeCanales() {
    int par[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, par) != 0) {
        const int error = errno;
        throw ErrorConexion(textos::procesoLoginNoSeLanza(rutaProcesoLogin(), error), Causa::Sistema);
    }
    return {Descriptor(par[0]), Descriptor(par[1])};
}

Hijo lanzaServidorLogins() {
    auto [canal, canalHijo] = parDeCanales();
    const pid_t pid = lanza(fueraDelCamino(std::move(canalHijo)));
    return Hijo(pid, std::move(canal));
}

std::string rutaProcesoLoginPara(const std::string& ejecutable, const std::string& arbolCompilacion,
                                 const std::string& rutaCompilada) {
    const auto barra = ejecutable.rfind('/');
    if (barra == std::string::npos)
        return {};
    const std::string instalado = ejecutable.substr(0, barra) + "/../libexec/tarpelino/tarpelino-login";
    if (::access(instalado.c_str(), X_OK) == 0)
        return instalado;
    // Only a tarpelino of the build tree runs the build tree's: anywhere else,
    // that folder may be one another user can write to.
    const bool enArbol = !arbolCompilacion.empty() && ejecutable.rfind(arbolCompilacion + "/", 0) == 0;
    return enArbol ? rutaCompilada : std::string();
}

std::string rutaProcesoLogin() {
    // Where this executable is does not change while it runs.
    static const std::string ruta = [] {
        char exe[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        const std::string ejecutable = n > 0 ? std::string(exe, std::size_t(n)) : std::string();
        char arbol[PATH_MAX];
        const bool hayArbol = ::realpath(TARPELINO_ARBOL_COMPILACION, arbol) != nullptr;
        return rutaProcesoLoginPara(ejecutable, hayArbol ? arbol : "", TARPELINO_PROCESO_LOGIN);
    }();
    return ruta;
}

} // namespace data_access
