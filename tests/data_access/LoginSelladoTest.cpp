// A login no one else can touch and no server can stall or swell: another
// local user watching the loopback listeners, servers that flood or refuse at
// length, a login process that stops answering, an application that dies,
// and a system that refuses processes or descriptors.
#include "data_access/Lanzadera.h"
#include "data_access/LanzamientoLogin.h"
#include "login_process/Relevo.h"
#include "login_process/ResolucionNombres.h"
#include "login_shared/Causa.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/ConexionComoDbLib.h"
#include "tests/support/MemoriaProceso.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>

using namespace data_access;
using namespace login_shared;
using namespace login_process;
using namespace std::chrono_literals;

extern char** environ;

namespace {

const std::string kPassword = "Secr3t!";

// The test tool beside this executable.
std::string herramientaDePrueba() {
    char ruta[4096];
    const ssize_t n = ::readlink("/proc/self/exe", ruta, sizeof ruta - 1);
    std::string dir(ruta, std::size_t(std::max<ssize_t>(n, 0)));
    return dir.substr(0, dir.rfind('/')) + "/data_access_otro_usuario";
}

// The test tool: another user, or an application to kill or starve. `ejecutable`
// is a copy of it (CopiaParaOtroUsuario) for another user that runs a login.
class OtroProceso {
public:
    explicit OtroProceso(std::vector<std::string> args, std::string ejecutable = herramientaDePrueba()) {
        int entrada[2], salida[2];
        // Its standard input is a socket, so that writing to a tool that has already ended
        // fails (MSG_NOSIGNAL) instead of killing this program with SIGPIPE.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, entrada) != 0 ||
            ::pipe2(salida, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t acciones;
        posix_spawn_file_actions_init(&acciones);
        posix_spawn_file_actions_adddup2(&acciones, entrada[0], 0);
        posix_spawn_file_actions_adddup2(&acciones, salida[1], 1);
        // It starts in its own folder: a copy's user may not enter this one.
        const std::string carpeta = ejecutable.substr(0, ejecutable.rfind('/'));
        posix_spawn_file_actions_addchdir_np(&acciones, carpeta.c_str());
        args.insert(args.begin(), std::move(ejecutable));
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &acciones, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("posix_spawn");
        posix_spawn_file_actions_destroy(&acciones);
        ::close(entrada[0]);
        ::close(salida[1]);
        entrada_ = entrada[1];
        salida_ = salida[0];
    }
    ~OtroProceso() {
        termina();
        ::close(entrada_);
        ::close(salida_);
    }

    pid_t pid() const { return pid_; }
    // False when it no longer reads (it has ended).
    bool escribe(const std::string& linea) {
        const std::string l = linea + "\n";
        return ::send(entrada_, l.data(), l.size(), MSG_NOSIGNAL) == ssize_t(l.size());
    }
    // The next line it prints, or "" when it ends or `espera` passes first.
    std::string linea(std::chrono::milliseconds espera = 20s) {
        const auto fin = Reloj::now() + espera;
        for (;;) {
            if (auto n = leido_.find('\n'); n != std::string::npos) {
                std::string l = leido_.substr(0, n);
                leido_.erase(0, n + 1);
                return l;
            }
            const auto queda = std::chrono::duration_cast<std::chrono::milliseconds>(fin - Reloj::now());
            pollfd p{salida_, POLLIN, 0};
            // Once more with no wait when the time is up: what has already arrived is still read.
            if (::poll(&p, 1, int(std::max<long long>(0, queda.count()))) <= 0)
                return {};
            char trozo[4096];
            const ssize_t n = ::read(salida_, trozo, sizeof trozo);
            if (n <= 0)
                return {};
            leido_.append(trozo, std::size_t(n));
        }
    }
    // Kills it and gives back everything it printed that was not read yet.
    std::string termina() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int estado = 0;
            ::waitpid(pid_, &estado, 0);
            estado_ = estado;
            pid_ = -1;
        }
        std::string resto;
        for (std::string l; !(l = linea(200ms)).empty();)
            resto += l + "\n";
        return resto;
    }
    // Waits for it to end on its own; its exit status.
    int espera() {
        int estado = 0;
        ::waitpid(pid_, &estado, 0);
        pid_ = -1;
        return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    }

private:
    pid_t pid_ = -1;
    int entrada_ = -1;
    int salida_ = -1;
    int estado_ = 0;
    std::string leido_;
};

// Another user (nobody, from root) exists only for root to become.
bool hayOtroUsuario() {
    return ::geteuid() == 0;
}

// Whether another user can reach `dir` (every folder on the way lets others
// through) and run programs there (not mounted noexec).
bool otrosEjecutanEn(const std::filesystem::path& dir) {
    std::error_code error;
    const auto real = std::filesystem::canonical(dir, error);
    struct statvfs montaje {};
    if (error || ::statvfs(real.c_str(), &montaje) != 0 || (montaje.f_flag & ST_NOEXEC))
        return false;
    std::filesystem::path camino;
    for (const auto& parte : real) {
        camino /= parte;
        struct stat s {};
        if (::stat(camino.c_str(), &s) != 0 || !(s.st_mode & S_IXOTH))
            return false;
    }
    return true;
}

// The test tool and the build's login process, copied where another user can
// run them: a clone in a folder only its owner may enter (a home directory,
// mktemp -d), TMPDIR inside it too, is closed to nobody. Laid out as installed
// (bin/, libexec/tarpelino/), so the tool runs the copy's login process; owned
// by root and read-only to others. Removed with the object.
class CopiaParaOtroUsuario {
public:
    CopiaParaOtroUsuario() {
        const char* tmpdir = std::getenv("TMPDIR");
        for (const std::string base : {tmpdir ? tmpdir : "", "/tmp", "/var/tmp"}) {
            if (base.empty() || !otrosEjecutanEn(base))
                continue;
            std::string plantilla = base + "/tarpelino-otro-usuario-XXXXXX";
            if (!::mkdtemp(plantilla.data()))
                continue;
            dir_ = plantilla;
            break;
        }
        if (dir_.empty())
            return;
        namespace fs = std::filesystem;
        const auto abierto = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec;
        fs::create_directories(dir_ / "bin");
        fs::create_directories(dir_ / "libexec/tarpelino");
        for (const fs::path& d : {dir_, dir_ / "bin", dir_ / "libexec", dir_ / "libexec/tarpelino"})
            fs::permissions(d, abierto);
        fs::copy_file(herramientaDePrueba(), dir_ / "bin/data_access_otro_usuario");
        fs::copy_file(rutaProcesoLogin(), dir_ / "libexec/tarpelino/tarpelino-login");
        fs::permissions(dir_ / "bin/data_access_otro_usuario", abierto);
        fs::permissions(dir_ / "libexec/tarpelino/tarpelino-login", abierto);
    }
    ~CopiaParaOtroUsuario() {
        std::error_code error;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, error);
    }
    CopiaParaOtroUsuario(const CopiaParaOtroUsuario&) = delete;
    CopiaParaOtroUsuario& operator=(const CopiaParaOtroUsuario&) = delete;

    // Empty when no temporary folder here lets another user run programs.
    std::string ejecutable() const {
        return dir_.empty() ? "" : (dir_ / "bin/data_access_otro_usuario").string();
    }

private:
    std::filesystem::path dir_;
};

// Waits until `condicion` holds, for at most `espera`.
bool llegaA(const std::function<bool()>& condicion, std::chrono::milliseconds espera = 10s) {
    const auto fin = Reloj::now() + espera;
    while (!condicion()) {
        if (Reloj::now() >= fin)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Login processes and login servers (tarpelino-login renames itself
// tarpelino-lanza) alive anywhere, children of this process or not, by pid.
std::vector<pid_t> procesosLogin(bool soloServidores = false) {
    std::vector<pid_t> pids;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = e.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(e.path() / "stat");
        std::string linea;
        std::getline(stat, linea);
        const auto cierre = linea.rfind(')');
        const bool servidor = linea.find("(tarpelino-lanza)") != std::string::npos;
        const bool login = !soloServidores && linea.find("(tarpelino-login)") != std::string::npos;
        if ((servidor || login) && cierre + 2 < linea.size() && linea[cierre + 2] != 'Z')
            pids.push_back(std::stoi(pid));
    }
    return pids;
}

std::string leeArchivo(const std::string& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Whether `pid` may still run: neither gone nor a zombie waiting to be reaped.
bool ejecutandose(pid_t pid) {
    const std::string linea = leeArchivo("/proc/" + std::to_string(pid) + "/stat");
    const auto cierre = linea.rfind(')');
    return cierre != std::string::npos && cierre + 2 < linea.size() && linea[cierre + 2] != 'Z' &&
           linea[cierre + 2] != 'X';
}

// Peak resident memory of a process in kB (VmHWM), 0 once it has gone.
long picoResidenteKb(pid_t pid) {
    std::ifstream estado("/proc/" + std::to_string(pid) + "/status");
    std::string linea;
    while (std::getline(estado, linea))
        if (linea.rfind("VmHWM:", 0) == 0)
            return std::atol(linea.c_str() + 6);
    return 0;
}

class LoginSellado : public ::testing::Test {
protected:
    void TearDown() override { terminaServidorLogins(); }
};

} // namespace

namespace {

// TCP sockets `pid` holds, listening and connected, from the kernel's tables of its network; none
// when its descriptors cannot be read.
struct SocketsTcp {
    int escuchando = 0, conectados = 0;
};
SocketsTcp socketsTcpDe(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    std::set<std::string> inodos;
    std::error_code error;
    // Never throws: a process may end while it is looked at.
    for (std::filesystem::directory_iterator fd(dir + "/fd", error), fin; !error && fd != fin;
         fd.increment(error)) {
        std::error_code sinEnlace;
        const std::string destino = std::filesystem::read_symlink(fd->path(), sinEnlace).string();
        if (destino.rfind("socket:[", 0) == 0)
            inodos.insert(destino.substr(8, destino.size() - 9));
    }
    SocketsTcp s;
    for (const char* tabla : {"/net/tcp", "/net/tcp6"}) {
        std::istringstream lineas(leeArchivo(dir + tabla));
        std::string linea, campo, estado, inodo;
        std::getline(lineas, linea); // the header
        while (std::getline(lineas, linea)) {
            std::istringstream campos(linea);
            campos >> campo >> campo >> campo >> estado;
            for (int i = 0; i < 6; ++i)
                campos >> inodo;
            if (inodos.count(inodo)) {
                s.escuchando += estado == "0A";
                s.conectados += estado == "01";
            }
        }
    }
    return s;
}

} // namespace

// Any local user can connect to a port on loopback: a login process listens on
// none, so no one can break into a login or be told one. Each login is looked at
// while the stand-in holds its LOGIN7, before answering it: its process is then
// surely connected to the server, and none of this test's login processes listens.
TEST_F(LoginSellado, ALoginProcessListensOnNoPortWhileItsLoginGoesThrough) {
    stand_in::Config config = configConSa();
    config.encryption = stand_in::Encryption::LoginOnly;
    stand_in::Server servidor(config);
    std::atomic<int> vistos{0}, conectados{0}, escuchando{0};
    servidor.setLoginObserver([&](const stand_in::LoginRecord&) {
        ++vistos;
        for (const ProcesoHijo& h : procesosHijos()) {
            if (h.nombre != "tarpelino-login" && h.nombre != "tarpelino-lanza")
                continue;
            const SocketsTcp s = socketsTcpDe(h.pid);
            conectados += s.conectados;
            escuchando += s.escuchando;
        }
    });
    servidor.start();
    for (int i = 0; i < 4; ++i) {
        ConexionFreeTds c;
        const Apertura r = intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa));
        EXPECT_TRUE(r.abierta) << r.descripcion;
    }
    ASSERT_EQ(vistos.load(), 4);
    if (conectados == 0 && ::geteuid() != 0)
        GTEST_SKIP() << "sin permiso para ver los descriptores del proceso de login";
    EXPECT_GE(conectados.load(), 4) << "un login en curso no se vio conectado";
    EXPECT_EQ(escuchando.load(), 0);
}

// A server that answers the login with messages without end: the login
// process keeps the first ones, stays small and ends at the deadline, saying
// the reply did not end in time.
TEST_F(LoginSellado, AFloodOfMessagesKeepsTheLoginProcessSmallAndEndsAtTheDeadline) {
    for (const auto fallo : {stand_in::Fault::FloodErrors, stand_in::Fault::FloodInfo}) {
        SCOPED_TRACE(fallo == stand_in::Fault::FloodErrors ? "ERROR" : "INFO");
        stand_in::Server servidor(configConSa(fallo));
        servidor.start();
        std::atomic<bool> fin{false};
        std::atomic<long> pico{0};
        std::thread vigia([&] {
            while (!fin) {
                for (pid_t pid : procesosLogin())
                    pico = std::max(pico.load(), picoResidenteKb(pid));
                std::this_thread::sleep_for(20ms);
            }
        });
        ConexionFreeTds c;
        const Apertura r =
            intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=3;"));
        fin = true;
        vigia.join();
        EXPECT_FALSE(r.abierta);
        EXPECT_LT(r.duracion, 3s + 700ms) << r.descripcion;
        contiene(r.descripcion, "Tiempo de espera agotado");
        // A server that was sending is not one that did not answer.
        contiene(r.descripcion,
                 "empezó a responder al inicio de sesión, pero su respuesta no terminó a tiempo");
        EXPECT_GT(pico.load(), 0);
        if (!kConSanitizador) {
            EXPECT_LT(pico.load(), 64 * 1024) << "kB";
        }
        EXPECT_LT(r.descripcion.size(), 64u * 1024);
        if (fallo == stand_in::Fault::FloodErrors) {
            contiene(r.descripcion, "Msg 18456, nivel 14, estado 1: Login failed for user 'sa'.");
            contiene(r.descripcion, "mensajes más.");
        }
    }
}

// About a megabyte of refusal (131 messages of 8,000 characters) comes back
// at once, its first messages whole and the rest counted.
TEST_F(LoginSellado, AHugeRefusalComesBackInTimeWithItsFirstMessagesAndACount) {
    stand_in::Config config = configConSa();
    for (int i = 0; i < 131; ++i)
        config.refusalTexts.push_back(std::to_string(i) + ":" + std::string(7990, 'x') + "fin");
    stand_in::Server servidor(config);
    servidor.start();
    const std::string texto = fallo(cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=5;"));
    contiene(texto, "Msg 50000, nivel 16, estado 1: 0:xxx");
    contiene(texto, "Msg 50000, nivel 16, estado 1: 9:xxx");
    EXPECT_EQ(texto.find("10:xxx"), std::string::npos);
    contiene(texto, "y 121 mensajes más.");
    EXPECT_LT(texto.size(), 64u * 1024);
}

// The connection object kills a login process that stops answering at the
// deadline: nothing else would end an open whose process is stuck. The same
// holds for a login server that stops answering: the open ends in time.
TEST_F(LoginSellado, ALoginProcessThatStopsAnsweringIsKilledAtTheDeadline) {
    stand_in::Server servidor(configConSa(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    // The login process, frozen once the server has its login.
    std::atomic<pid_t> congelado{-1};
    std::thread congela([&] {
        if (!llegaA([&] { return !servidor.logins().empty(); }))
            return;
        for (const ProcesoHijo& h : procesosHijos())
            if (h.nombre == "tarpelino-login" && ejecutandose(h.pid) && ::kill(h.pid, SIGSTOP) == 0)
                congelado = h.pid;
    });
    ConexionFreeTds c;
    const Apertura r = intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=2;"));
    congela.join();
    ASSERT_GT(congelado.load(), 0);
    // Gone as the open gives up, before anything else here could kill it.
    EXPECT_TRUE(llegaA([&] { return !ejecutandose(congelado); }, 1s))
        << "el proceso " << congelado << " sigue vivo";
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 2s + 700ms) << r.descripcion;
    contiene(r.descripcion, "Tiempo de espera agotado");
    contiene(r.descripcion, "en este equipo");
    // Where it was when it stopped: the last stage it reported.
    contiene(r.descripcion,
             "iba en el inicio de sesión en 127.0.0.1, puerto " + std::to_string(servidor.port()));
    ASSERT_TRUE(c.datosApertura());
    EXPECT_EQ(c.datosApertura()->causa, Causa::Equipo);
}

TEST_F(LoginSellado, ALoginServerThatStopsAnsweringIsKilledAtTheDeadline) {
    stand_in::Server servidor(configConSa(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    // A first open leaves the login server running; that one is frozen.
    fallo(cadena("127.0.0.1,1", kLoginSa + "Connect Timeout=2;"));
    const auto hijos = procesosHijos();
    ASSERT_FALSE(hijos.empty());
    for (const ProcesoHijo& h : hijos)
        ::kill(h.pid, SIGSTOP);
    ConexionFreeTds c;
    const Apertura r = intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=1;"));
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 1s + 700ms) << r.descripcion;
    contiene(r.descripcion, "Tiempo de espera agotado");
    terminaServidorLogins();
    for (const ProcesoHijo& h : hijos)
        EXPECT_NE(::kill(h.pid, 0), 0) << "el proceso " << h.pid << " sigue vivo";
    // The next open starts a new server.
    const std::string siguiente = fallo(cadena("127.0.0.1,1", kLoginSa + "Connect Timeout=2;"));
    EXPECT_EQ(siguiente.find("Tiempo de espera agotado"), std::string::npos) << siguiente;
    EXPECT_EQ(siguiente.find("proceso de inicio de sesión"), std::string::npos) << siguiente;
    // This process's own: other tests running beside it have servers of their own.
    const auto nuevos = procesosHijos();
    EXPECT_EQ(std::count_if(nuevos.begin(), nuevos.end(),
                            [](const ProcesoHijo& h) { return h.nombre == "tarpelino-lanza"; }),
              1);
}

// Killed while a login waits on a silent server with no deadline at all,
// the application takes its login process, and the server session, with it.
TEST_F(LoginSellado, ALoginProcessEndsWithItsApplicationAndClosesTheServerConnection) {
    stand_in::Server servidor(configConSa(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    OtroProceso aplicacion({"abre", cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=0;")});
    ASSERT_TRUE(llegaA([&] { return !servidor.logins().empty(); }));
    std::vector<pid_t> suyos;
    for (pid_t pid : procesosLogin())
        if (leeArchivo("/proc/" + std::to_string(pid) + "/status")
                .find("\nPPid:\t" + std::to_string(aplicacion.pid()) + "\n") != std::string::npos)
            suyos.push_back(pid);
    // Its login process and the login server, both its children.
    ASSERT_GE(suyos.size(), 2u);
    const auto servidores = procesosLogin(true);
    EXPECT_TRUE(std::any_of(suyos.begin(), suyos.end(), [&](pid_t p) {
        return std::find(servidores.begin(), servidores.end(), p) != servidores.end();
    })) << "no hay servidor de logins entre sus hijos";
    aplicacion.termina();
    EXPECT_TRUE(llegaA([&] { return servidor.connectionsClosed() == servidor.connectionsAccepted(); }, 2s))
        << "la sesión con el servidor sigue abierta";
    EXPECT_TRUE(llegaA(
        [&] {
            const auto vivos = procesosLogin();
            for (pid_t pid : suyos)
                if (std::find(vivos.begin(), vivos.end(), pid) != vivos.end())
                    return false;
            return true;
        },
        2s))
        << "el proceso de login o el servidor de logins sobrevive a su aplicación";
}

// No login process shows the password in its environment or command line,
// and none lets another process of the same user read it.
TEST_F(LoginSellado, NoLoginProcessShowsThePasswordNorLetsItsMemoryBeRead) {
    stand_in::Server servidor(configConSa(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    std::thread abre([&] { fallo(cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=3;")); });
    ASSERT_TRUE(llegaA([&] { return !servidor.logins().empty(); }));
    const auto pids = procesosLogin();
    EXPECT_FALSE(pids.empty());
    for (pid_t pid : pids) {
        for (const char* archivo : {"environ", "cmdline"}) {
            const std::string contenido = leeArchivo("/proc/" + std::to_string(pid) + "/" + archivo);
            EXPECT_EQ(contenido.find(kPassword), std::string::npos) << archivo;
        }
    }
    abre.join();

    // The same user, without root's power over every process: the memory is closed to it.
    std::optional<CopiaParaOtroUsuario> copia;
    if (hayOtroUsuario() && copia.emplace().ejecutable().empty())
        GTEST_SKIP() << "ninguna carpeta temporal deja a nobody ejecutar el proceso de login";
    OtroProceso aplicacion({"abre", cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=3;"),
                            "--lee-memoria", "--otro-usuario"},
                           copia ? copia->ejecutable() : herramientaDePrueba());
    servidor.clearLogins();
    const bool llego = llegaA([&] { return !servidor.logins().empty(); });
    aplicacion.escribe("ahora");
    const std::string lectura = aplicacion.linea();
    if (lectura.empty() && aplicacion.espera() == 77)
        GTEST_SKIP() << "nobody no puede ejecutar el proceso de login de esta compilación";
    EXPECT_TRUE(llego);
    EXPECT_EQ(lectura, "memoria protegida");
}

// When the system refuses a process, a thread or a descriptor, the
// description names the limit, in Spanish, whatever step it stopped.
TEST_F(LoginSellado, ASystemLimitIsNamedWhereverItStopsTheOpen) {
    if (kConSanitizador)
        GTEST_SKIP() << "the sanitizer's runtime needs descriptors and threads of its own under these limits";
    stand_in::Server servidor(configConSa());
    servidor.start();
    const std::string texto = cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=5;");
    int limitados = 0;
    for (int n = 4; n <= 40; n += 2) {
        SCOPED_TRACE("ulimit -n " + std::to_string(n));
        OtroProceso aplicacion({"abre", texto, "--nofile", std::to_string(n)});
        const std::string r = aplicacion.linea();
        if (r.empty() && aplicacion.espera() == 77)
            GTEST_SKIP() << "nobody no puede ejecutar el proceso de login de esta compilación";
        if (r == "abierta")
            continue;
        ++limitados;
        contiene(r, "«ulimit -n»: " + std::to_string(n));
    }
    EXPECT_GT(limitados, 0);
    if (!hayOtroUsuario())
        return; // root's processes are not counted against a limit
    const CopiaParaOtroUsuario copia;
    if (copia.ejecutable().empty())
        GTEST_SKIP() << "ninguna carpeta temporal deja a nobody ejecutar el proceso de login";
    for (int n = 0; n <= 8; ++n) {
        SCOPED_TRACE("ulimit -u " + std::to_string(n));
        OtroProceso aplicacion({"abre", texto, "--otro-usuario", "--nproc", std::to_string(n)},
                               copia.ejecutable());
        const std::string r = aplicacion.linea();
        if (r.empty() && aplicacion.espera() == 77)
            GTEST_SKIP() << "nobody no puede ejecutar el proceso de login de esta compilación";
        if (r == "abierta")
            continue;
        contiene(r, "«ulimit -u»: " + std::to_string(n));
    }
}

// An installed window runs only the login process installed beside it; the
// one in the build tree only from the build tree.
TEST(RutaProcesoLogin, AnInstalledWindowNeverFallsBackToTheBuildTree) {
    const std::string arbol = "/compilacion";
    const std::string compilada = "/compilacion/login_process/tarpelino-login";
    EXPECT_EQ(rutaProcesoLoginPara("/compilacion/main_window/tarpelino", arbol, compilada), compilada);
    EXPECT_EQ(rutaProcesoLoginPara("/usr/bin/tarpelino", arbol, compilada), "");
    EXPECT_EQ(rutaProcesoLoginPara("/compilacion-otra/tarpelino", arbol, compilada), "");
    // Beside a real executable with a libexec folder next to it, even one unpacked inside the build tree.
    const auto dir = std::filesystem::path(::testing::TempDir()) / "instalado";
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_directories(dir / "libexec/tarpelino");
    std::ofstream(dir / "libexec/tarpelino/tarpelino-login") << "#!/bin/sh\n";
    std::filesystem::permissions(dir / "libexec/tarpelino/tarpelino-login",
                                 std::filesystem::perms::owner_all);
    EXPECT_EQ(rutaProcesoLoginPara((dir / "bin/tarpelino").string(), arbol, compilada),
              (dir / "bin/../libexec/tarpelino/tarpelino-login").string());
    EXPECT_EQ(rutaProcesoLoginPara((dir / "bin/tarpelino").string(), dir.string(), compilada),
              (dir / "bin/../libexec/tarpelino/tarpelino-login").string());
    std::filesystem::remove_all(dir);
}

// What the watching stranger meets: the port db-lib is told to use takes no
// connection, a stranger's is refused, and it cannot be taken while the
// login process lives; db-lib's own connect to it, passed to the relay,
// reaches the server.
TEST_F(LoginSellado, TheRelaysPortRefusesStrangersAndIsHeldWhileDbLibsConnectReachesTheServer) {
    if (!hayOtroUsuario())
        GTEST_SKIP() << "hace falta root para hacer de otro usuario (nobody)";
    stand_in::Server servidor(configConSa());
    servidor.start();
    const Plazo plazo(10s);
    auto relevo = std::make_unique<Relevo>(resuelveConTabla("127.0.0.1", {}, plazo).direcciones,
                                           servidor.port(), plazo, nullptr);
    const std::string puerto = std::to_string(relevo->puertoLocal());

    OtroProceso extrano({"conecta-a", puerto});
    const std::string respuesta = extrano.linea();
    if (respuesta.empty() && extrano.espera() == 77)
        GTEST_SKIP() << "nobody no puede hacer de otro usuario aquí";
    EXPECT_EQ(respuesta, "rechazado");
    EXPECT_EQ(OtroProceso({"ocupa", puerto}).linea(), "en uso");

    const int cliente = conectaConPrelogin(*relevo);
    ASSERT_GE(cliente, 0);
    pollfd p{cliente, POLLIN, 0};
    char cabecera[8];
    ASSERT_EQ(relevo->espera(&p, 1, 5000), 1);
    EXPECT_EQ(relevo->recibe(cliente, cabecera, sizeof cabecera, MSG_WAITALL), 8);
    EXPECT_EQ(cabecera[0], '\x04') << "la respuesta del servidor no llegó";
    relevo->cierra(cliente);
    ::close(cliente);
    EXPECT_TRUE(llegaA([&] { return servidor.connectionsClosed() == 1; }));
    relevo.reset();
    EXPECT_EQ(OtroProceso({"ocupa", puerto}).linea(), "en uso") << "el puerto quedó libre al acabar el login";
}

// Once LOGIN7 is sent, the login process keeps no copy of the password: a
// core file or a read of its memory while the session is open finds none.
TEST_F(LoginSellado, AnOpenSessionsProcessHoldsNoCopyOfThePassword) {
    const std::string password = "Zx9-Contraseña-Única-de-prueba";
    stand_in::Config config = configConSa();
    config.logins = {{"sa", password}};
    config.encryption = stand_in::Encryption::Required;
    stand_in::Server servidor(config);
    servidor.start();
    ConexionFreeTds c;
    c.setConnectionString(cadena(servidorEn(servidor.port()), "User ID=sa;Password=" + password + ";"));
    c.open();
    std::size_t leidos = 0;
    bool hallada = false;
    for (pid_t pid : procesosLogin()) {
        const std::string dir = "/proc/" + std::to_string(pid);
        // This process's own: the login server and its login (other tests' come and go meanwhile).
        if (leeArchivo(dir + "/status").find("\nPPid:\t" + std::to_string(::getpid()) + "\n") ==
            std::string::npos)
            continue;
        const std::size_t suyos = recorreMemoriaEscribible(pid, [&](const std::string& mapa) {
            hallada = hallada || mapa.find(password) != std::string::npos;
            return true;
        });
        if (suyos == 0)
            GTEST_SKIP() << "sin permiso para leer la memoria del proceso de login";
        leidos += suyos;
    }
    c.close();
    ASSERT_GT(leidos, 0u);
    EXPECT_FALSE(hallada) << "la contraseña sigue en la memoria en UTF-8";
}

namespace {

// The password as it may lie in memory: as typed (UTF-8), as LOGIN7 carries it
// (UTF-16LE) and in TDS's scrambling of that (nibbles swapped, then XOR 0xA5).
struct FormasContrasena {
    std::string utf8, utf16, mezclada;
};

FormasContrasena formasDe(const std::string& ascii) {
    FormasContrasena f{ascii, {}, {}};
    for (char c : ascii) {
        f.utf16 += c;
        f.utf16 += '\0';
    }
    for (unsigned char b : f.utf16)
        f.mezclada += char((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
    return f;
}

struct CopiasHalladas {
    int utf8 = 0, utf16 = 0, mezclada = 0;
    std::size_t leidos = 0;
};

// Every copy in every writable mapping of `pid` (heap, stacks, the libraries' data).
CopiasHalladas copiasEn(pid_t pid, const FormasContrasena& f) {
    CopiasHalladas c;
    c.leidos = recorreMemoriaEscribible(pid, [&](const std::string& mapa) {
        c.utf8 += vecesEn(mapa, f.utf8);
        c.utf16 += vecesEn(mapa, f.utf16);
        c.mezclada += vecesEn(mapa, f.mezclada);
        return true;
    });
    return c;
}

} // namespace

// While the server withholds its reply to LOGIN7, the login process holds only
// what docs/DISENO.md's "sealed" paragraph names: db-lib's working copy of the login
// (in clear) and the LOGIN7 it built (scrambled), none as LOGIN7 carries it
// before scrambling; once the session is open, none in any form.
TEST_F(LoginSellado, WhileTheReplyIsWithheldOnlyWhatTheReadmeNamesStaysInTheLoginProcess) {
    if (kConSanitizador)
        GTEST_SKIP() << "AddressSanitizer guarda lo liberado y sus propias pilas: las copias que cuenta no "
                        "son las del programa";
    const std::string password = "Zx9-Clave-Unica-de-prueba";
    const FormasContrasena formas = formasDe(password);
    const auto enLosLogins = [&formas] {
        CopiasHalladas todas;
        for (const ProcesoHijo& h : procesosHijos())
            if (h.nombre == "tarpelino-login") {
                const CopiasHalladas en = copiasEn(h.pid, formas);
                todas.utf8 += en.utf8;
                todas.utf16 += en.utf16;
                todas.mezclada += en.mezclada;
                todas.leidos += en.leidos;
            }
        return todas;
    };
    for (const auto cifrado : {stand_in::Encryption::Required, stand_in::Encryption::NotSupported}) {
        SCOPED_TRACE(cifrado == stand_in::Encryption::Required ? "LOGIN7 en TLS" : "LOGIN7 en claro");
        // The reply is withheld long enough to read the memory at leisure, however busy the machine.
        stand_in::Config config = configConSa(stand_in::Fault::DelayLogin, 3s);
        config.logins = {{"sa", password}};
        config.encryption = cifrado;
        stand_in::Server servidor(config);
        servidor.start();
        ConexionFreeTds c;
        c.setConnectionString(
            cadena(servidorEn(servidor.port()), "User ID=sa;Password=" + password + ";Connect Timeout=30;"));
        std::thread abre([&] {
            try {
                c.open();
            } catch (const ErrorConexion&) {
            }
        });
        const bool llego = llegaA([&] { return !servidor.logins().empty(); }, 20s);
        // The relay wiped what it could reach when it passed LOGIN7 on, before the server had it.
        const CopiasHalladas durante = enLosLogins();
        abre.join();
        ASSERT_TRUE(llego);
        ASSERT_TRUE(c.isOpen());
        const CopiasHalladas abierta = enLosLogins();
        c.close();
        if (durante.leidos == 0)
            GTEST_SKIP() << "sin permiso para leer la memoria del proceso de login";
        EXPECT_LE(durante.utf8, 1) << "en claro, además de la copia de trabajo de db-lib";
        EXPECT_EQ(durante.utf16, 0) << "en UTF-16, como LOGIN7 la lleva antes de mezclarla";
        EXPECT_LE(durante.mezclada, 1) << "mezclada, además del LOGIN7 de db-lib";
        EXPECT_EQ(abierta.utf8 + abierta.utf16 + abierta.mezclada, 0)
            << abierta.utf8 << " en claro, " << abierta.utf16 << " en UTF-16, " << abierta.mezclada
            << " mezcladas, con la sesión abierta";
    }
}

// A closed login whose process cannot run is killed once its 2 s of grace are
// over, by the next open, and holds none: each open stays within its own deadline.
// The application's end kills one too, once its grace is over.
TEST_F(LoginSellado, AClosedLoginWhoseProcessIsFrozenIsKilledAfterItsGraceAndNeverDelaysTheNextOpen) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    const std::string texto = cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=3;");
    // Opens, freezes its own login process (the one child that this open added: other tests'
    // may be ending) and closes; its pid, and `cerrando`, when its grace started at the soonest.
    const auto congelaUnaCerrada = [&](Reloj::time_point& cerrando) {
        std::vector<pid_t> antes;
        for (const ProcesoHijo& h : procesosHijos())
            antes.push_back(h.pid);
        ConexionFreeTds primera;
        primera.setConnectionString(texto);
        primera.open();
        pid_t congelado = -1;
        for (const ProcesoHijo& h : procesosHijos())
            if (h.nombre == "tarpelino-login" && ejecutandose(h.pid) &&
                std::find(antes.begin(), antes.end(), h.pid) == antes.end() && ::kill(h.pid, SIGSTOP) == 0)
                congelado = h.pid;
        // SIGSTOP takes effect when the process is next scheduled: closed before, it would end on its own.
        EXPECT_TRUE(congelado > 0 && llegaA([&] {
                        const std::string linea = leeArchivo("/proc/" + std::to_string(congelado) + "/stat");
                        const auto cierre = linea.rfind(')');
                        return cierre != std::string::npos && cierre + 2 < linea.size() &&
                               linea[cierre + 2] == 'T';
                    }));
        // Its grace starts inside close(): no sooner than `cerrando`.
        cerrando = Reloj::now();
        primera.close();
        return congelado;
    };
    Reloj::time_point cerrando;
    const pid_t congelado = congelaUnaCerrada(cerrando);
    ASSERT_GT(congelado, 0);
    const auto cerrada = Reloj::now();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "en su gracia" : "pasada su gracia");
        if (i == 1)
            std::this_thread::sleep_until(cerrada + 2500ms);
        ConexionFreeTds c;
        const Apertura r = intentaAbrir(c, texto);
        EXPECT_TRUE(r.abierta) << r.descripcion;
        EXPECT_LT(r.duracion, 3s) << r.descripcion;
        // An open slowed past the grace (a busy machine) may rightly have killed it.
        const bool vivo = ejecutandose(congelado);
        if (i == 0 && Reloj::now() < cerrando + 2s) {
            EXPECT_TRUE(vivo) << "muerto antes de su gracia";
        }
    }
    EXPECT_TRUE(llegaA([&] { return !ejecutandose(congelado); }, 1s))
        << "el proceso " << congelado << " sigue vivo pasada su gracia";

    // The application ends at once: it waits out the grace, then kills and reaps it.
    Reloj::time_point cerrandoOtra;
    const pid_t otro = congelaUnaCerrada(cerrandoOtra);
    ASSERT_GT(otro, 0);
    terminaServidorLogins();
    EXPECT_GE(Reloj::now() - cerrandoOtra, 2s) << "muerto antes de su gracia";
    EXPECT_NE(::kill(otro, 0), 0) << "el proceso " << otro << " sigue vivo";
}

namespace {

// The time and the limit a description states ("tras 5,0 s (límite 3 s)"), in tenths of a second.
std::pair<int, int> tiempoYLimite(const std::string& texto) {
    int segundos = 0, decimas = 0, limite = 0;
    const auto en = texto.find("tras ");
    if (en == std::string::npos ||
        std::sscanf(texto.c_str() + en, "tras %d,%d s (límite %d s", &segundos, &decimas, &limite) != 3)
        return {-1, -1};
    return {segundos * 10 + decimas, limite * 10};
}

// Stops, or lets go on, every process of this test's login machinery: the login
// server and the login processes (and `tambien`, with its own such children).
void senalAHijos(int senal, const std::string& nombre, pid_t de = ::getpid()) {
    for (pid_t pid : procesosLogin())
        if (leeArchivo("/proc/" + std::to_string(pid) + "/status")
                    .find("\nPPid:\t" + std::to_string(de) + "\n") != std::string::npos &&
            (nombre.empty() || leeArchivo("/proc/" + std::to_string(pid) + "/comm") == nombre + "\n"))
            ::kill(pid, senal);
}

} // namespace

// When the time of a pass goes on this machine (the login server stopped, a
// login process stopped as it starts, the whole job stopped as Ctrl+Z stops
// it) the pass goes on when it can, and otherwise its description names this
// machine, never the server, and says why it took longer than its limit.
TEST_F(LoginSellado, TimeThatWentOnThisMachineIsNamedSoAndNeverBlamedOnTheServer) {
    // A healthy server that answers each request in 150 ms.
    stand_in::Config config = configConSa();
    config.replyDelay = 150ms;
    stand_in::Server servidor(config);
    servidor.start();
    const auto culpaAlServidor = [](const std::string& t) {
        for (const char* culpa :
             {"no completó", "no aceptó la conexión TCP", "no respondió al inicio de sesión",
              "no se llegó a iniciar la conexión", "cortafuegos"})
            if (t.find(culpa) != std::string::npos)
                return true;
        return false;
    };
    const auto diceElPorque = [](const std::string& t) {
        const auto [tiempo, limite] = tiempoYLimite(t);
        return tiempo <= limite || t.find("Se pasó del límite") != std::string::npos ||
               t.find("no dio su resultado en el plazo") != std::string::npos;
    };

    {
        SCOPED_TRACE("servidor de logins detenido antes del clic");
        preparaLogins();
        // Once ready: it takes that name only then.
        ASSERT_TRUE(llegaA([] {
            const auto hijos = procesosHijos();
            return std::any_of(hijos.begin(), hijos.end(),
                               [](const ProcesoHijo& h) { return h.nombre == "tarpelino-lanza"; });
        }));
        senalAHijos(SIGSTOP, "tarpelino-lanza");
        ConexionFreeTds c;
        const Apertura r =
            intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=5;"));
        EXPECT_TRUE(r.abierta) << r.descripcion;
        EXPECT_LT(r.duracion, 5s);
    }
    {
        SCOPED_TRACE("proceso de login detenido nada más empezar");
        servidor.clearLogins();
        const int antes = servidor.connectionsAccepted();
        std::atomic<bool> detenido{false};
        std::thread detiene([&] {
            if (llegaA([&] { return servidor.connectionsAccepted() > antes; }))
                senalAHijos(SIGSTOP, "tarpelino-login");
            detenido = true;
        });
        ConexionFreeTds c;
        const Apertura r =
            intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=2;"));
        detiene.join();
        if (r.abierta)
            GTEST_SKIP() << "el inicio de sesión terminó antes de que se pudiera detener su proceso";
        contiene(r.descripcion, "en este equipo");
        ASSERT_TRUE(c.datosApertura());
        EXPECT_EQ(c.datosApertura()->causa, Causa::Equipo);
        EXPECT_FALSE(culpaAlServidor(r.descripcion)) << r.descripcion;
        EXPECT_TRUE(diceElPorque(r.descripcion)) << r.descripcion;
        EXPECT_LT(r.duracion, 2s + 700ms);
    }
    {
        SCOPED_TRACE("todo detenido desde fuera y reanudado, como con Ctrl+Z");
        OtroProceso aplicacion(
            {"abre", cadena(servidorEn(servidor.port()), kLoginSa + "Connect Timeout=2;")});
        const int antes = servidor.connectionsAccepted();
        ASSERT_TRUE(llegaA([&] { return servidor.connectionsAccepted() > antes; }));
        ::kill(aplicacion.pid(), SIGSTOP);
        senalAHijos(SIGSTOP, "", aplicacion.pid());
        std::this_thread::sleep_for(3500ms);
        senalAHijos(SIGCONT, "", aplicacion.pid());
        ::kill(aplicacion.pid(), SIGCONT);
        const std::string r = aplicacion.linea();
        if (r.empty() && aplicacion.espera() == 77)
            GTEST_SKIP() << "no se puede ejecutar el proceso de login de esta compilación";
        ASSERT_NE(r, "abierta");
        contiene(r, "en este equipo");
        EXPECT_FALSE(culpaAlServidor(r)) << r;
        EXPECT_TRUE(diceElPorque(r)) << r;
    }
}
