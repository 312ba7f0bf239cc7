#include "data_access/ProcesoLogin.h"

#include "data_access/Conexion.h"
#include "data_access/TextosError.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace data_access {

namespace {

// What the login process needs after the deadline to notice it and report.
constexpr std::chrono::milliseconds kMargenInforme{400};
// How long a closing login may take before it is killed.
constexpr std::chrono::milliseconds kEsperaCierre{2000};

// FreeTDS lets these override what the program asks for (the TDS version
// above all), or writes logs with them; the login process never sees them.
constexpr std::array<std::string_view, 8> kVariablesOcultas{
    "TDSVER",  "TDSPORT",       "TDSHOST", "TDSQUERY",
    "TDSDUMP", "TDSDUMPCONFIG", "SYBASE",  "GNUTLS_SYSTEM_PRIORITY_FILE"};

// The descriptors the login process finds its channel and its TLS settings on.
constexpr int kFdCanal = 3;
constexpr int kFdPrioridadesTls = 4;

// FreeTDS 1.3 fixes its own GnuTLS priority string ("NORMAL:%COMPAT:-VERS-SSL3.0")
// and has no setting for the highest TLS version. GnuTLS applies the
// [overrides] of its system priority file on top of any priority string,
// and reads that file once per process: a process per login can offer
// exactly its generation's versions.
std::string prioridadesTls(const PeticionLogin& p) {
    static constexpr std::array<const char*, 3> kNombres{"tls1.0", "tls1.1", "tls1.2"};
    std::string texto = "[overrides]\ndisabled-version = ssl3.0\ndisabled-version = tls1.3\n";
    for (std::size_t v = 0; v < kNombres.size(); ++v)
        if (v < std::size_t(p.tlsMinimo) || v > std::size_t(p.tlsMaximo))
            texto += std::string("disabled-version = ") + kNombres[v] + "\n";
    return texto;
}

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

void cierraFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Waits for the child to end, killing it if it has not within `espera`.
void terminaHijo(pid_t pid, std::chrono::milliseconds espera) {
    const auto fin = Plazo::Reloj::now() + espera;
    for (;;) {
        int estado = 0;
        const pid_t r = ::waitpid(pid, &estado, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return;
        if (Plazo::Reloj::now() >= fin) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &estado, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        ::usleep(2000);
    }
}

// A descriptor above the ones the child's are copied to, so that no copy clobbers another.
int fueraDelCamino(int fd) {
    const int alto = ::fcntl(fd, F_DUPFD_CLOEXEC, kFdPrioridadesTls + 1);
    ::close(fd);
    return alto;
}

pid_t lanza(int canalHijo, const PeticionLogin& peticion) {
    const std::string ruta = rutaProcesoLogin();
    const std::string prioridades = prioridadesTls(peticion);
    int fdPrioridades = ::memfd_create("gnutls-priorities", MFD_CLOEXEC);
    if (fdPrioridades < 0 ||
        ::write(fdPrioridades, prioridades.data(), prioridades.size()) != ssize_t(prioridades.size())) {
        const int error = errno;
        cierraFd(fdPrioridades);
        throw ErrorConexion(textos::procesoLoginNoArranca(ruta, error));
    }
    fdPrioridades = fueraDelCamino(fdPrioridades);
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    // Only these two reach the child; everything else is close-on-exec.
    posix_spawn_file_actions_adddup2(&acciones, canalHijo, kFdCanal);
    posix_spawn_file_actions_adddup2(&acciones, fdPrioridades, kFdPrioridadesTls);
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
    cierraFd(fdPrioridades);
    if (error != 0)
        throw ErrorConexion(textos::procesoLoginNoArranca(ruta, error));
    return pid;
}

} // namespace

std::string rutaProcesoLogin() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, std::size_t(n));
        dir.erase(dir.rfind('/'));
        const std::string instalado = dir + "/../libexec/tarpelino/tarpelino-login";
        if (::access(instalado.c_str(), X_OK) == 0)
            return instalado;
    }
    return TARPELINO_PROCESO_LOGIN;
}

std::unique_ptr<ProcesoLogin> ProcesoLogin::abre(const PeticionLogin& peticion, const Plazo& plazo) {
    int canales[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, canales) != 0)
        throw ErrorConexion(textos::procesoLoginNoArranca(rutaProcesoLogin(), errno));
    int canal = canales[0];
    int canalHijo = fueraDelCamino(canales[1]);
    pid_t pid = -1;
    try {
        pid = lanza(canalHijo, peticion);
    } catch (...) {
        cierraFd(canal);
        cierraFd(canalHijo);
        throw;
    }
    cierraFd(canalHijo);
    std::unique_ptr<ProcesoLogin> proceso(new ProcesoLogin(pid, canal));

    PeticionLogin conTiempo = peticion;
    conTiempo.limite = plazo.ilimitado() ? std::nullopt : std::optional(plazo.limite());
    conTiempo.transcurrido = plazo.transcurrido();
    Etapa etapa = Etapa::Preparacion;
    std::string destino = peticion.host;
    const auto falla = [&](std::string descripcion) {
        // Killed, not closed: a login that failed has nothing to close.
        ::kill(proceso->pid_, SIGKILL);
        terminaHijo(proceso->pid_, kEsperaCierre);
        cierraFd(proceso->canal_);
        proceso->pid_ = -1;
        throw ErrorApertura(descripcion, int(etapa));
    };
    if (!enviaMensaje(canal, mensaje::kPeticion, serializa(conTiempo)))
        falla(textos::procesoLoginTerminado(-1));

    for (;;) {
        int espera = -1;
        if (!plazo.ilimitado()) {
            const auto queda = plazo.restante() + kMargenInforme;
            espera = int(queda.count());
        }
        pollfd p{canal, POLLIN, 0};
        const int r = ::poll(&p, 1, espera);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            falla(textos::tiempoAgotadoEn(etapa, destino, plazo, peticion.credenciales.integrada));
        char tipo = 0;
        std::string cuerpo;
        if (!recibeMensaje(canal, tipo, cuerpo)) {
            int estado = 0;
            ::waitpid(proceso->pid_, &estado, 0);
            proceso->pid_ = -1;
            cierraFd(proceso->canal_);
            throw ErrorApertura(textos::procesoLoginTerminado(WIFSIGNALED(estado) ? WTERMSIG(estado) : -1),
                                int(etapa));
        }
        if (tipo == mensaje::kEtapa && !cuerpo.empty()) {
            etapa = Etapa(cuerpo[0]);
            if (cuerpo.size() > 1)
                destino = cuerpo.substr(1);
        } else if (tipo == mensaje::kAbierta) {
            proceso->resumen_ = deserializaResumen(cuerpo);
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
    terminaHijo(pid_, kEsperaCierre);
    cierraFd(canal_);
}

} // namespace data_access
