// The login server: one process started on demand, forking a login process
// per open that takes the open's environment and directory, with no exec.
#include "data_access/Lanzadera.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <fstream>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {

std::string leeArchivo(const std::string& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Children of this process, alive, with this name.
std::vector<pid_t> hijosLlamados(const std::string& nombre) {
    std::vector<pid_t> pids;
    for (const ProcesoHijo& h : procesosHijos()) {
        const std::string estado = leeArchivo("/proc/" + std::to_string(h.pid) + "/stat");
        const auto cierre = estado.rfind(')');
        if (h.nombre == nombre && cierre != std::string::npos && cierre + 2 < estado.size() &&
            estado[cierre + 2] != 'Z')
            pids.push_back(h.pid);
    }
    return pids;
}

// The login server, once it has named itself (it starts as tarpelino-login); -1 if none within 10 s.
pid_t servidorDeLogins() {
    for (const auto fin = Reloj::now() + 10s; Reloj::now() < fin; std::this_thread::sleep_for(5ms))
        if (const auto s = hijosLlamados("tarpelino-lanza"); s.size() == 1)
            return s[0];
    return -1;
}

std::string campoEstado(pid_t pid, const std::string& campo) {
    std::istringstream estado(leeArchivo("/proc/" + std::to_string(pid) + "/status"));
    for (std::string linea; std::getline(estado, linea);)
        if (linea.rfind(campo + ":", 0) == 0)
            return linea.substr(linea.find_first_not_of(" \t", campo.size() + 1));
    return {};
}

class ServidorLogins : public ::testing::Test {
protected:
    void SetUp() override {
        servidor_.start();
        terminaServidorLogins();
    }
    void TearDown() override { terminaServidorLogins(); }

    stand_in::Server servidor_{configConSa()};
};

} // namespace

// Nothing starts behind the caller's back: not loading the library, not
// making or configuring a connection object; preparaLogins() or an open does.
TEST_F(ServidorLogins, StartsOnlyWhenAskedOrAtTheFirstOpen) {
    {
        ConexionFreeTds c;
        c.setConnectionString(cadena(servidorEn(servidor_.port())));
        std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(hijosLlamados("tarpelino-lanza").empty());
        EXPECT_TRUE(hijosLlamados("tarpelino-login").empty());
    }
    preparaLogins();
    const pid_t preparado = servidorDeLogins();
    EXPECT_GT(preparado, 0);
    // Asked again, the running one stays.
    preparaLogins();
    EXPECT_EQ(servidorDeLogins(), preparado);

    terminaServidorLogins();
    EXPECT_TRUE(hijosLlamados("tarpelino-lanza").empty());
    ConexionFreeTds c;
    const Apertura a = intentaAbrir(c, cadena(servidorEn(servidor_.port())));
    EXPECT_TRUE(a.abierta) << a.descripcion;
    EXPECT_GT(servidorDeLogins(), 0);
}

// The environment and the working directory are read when the login runs,
// not when the server started: FREETDSCONF set afterwards, naming a file
// relative to a directory entered afterwards, finds the alias.
TEST_F(ServidorLogins, EachLoginTakesTheOpensEnvironmentAndDirectoryNotTheServers) {
    preparaLogins();
    const pid_t servidor = servidorDeLogins();
    ASSERT_GT(servidor, 0);

    std::string plantilla = ::testing::TempDir() + "servidor-logins-XXXXXX";
    ASSERT_NE(::mkdtemp(plantilla.data()), nullptr);
    std::ofstream(plantilla + "/alias.conf")
        << "[Tardio]\n\thost = 127.0.0.1\n\tport = " << servidor_.port() << "\n";
    char antes[PATH_MAX];
    ASSERT_NE(::getcwd(antes, sizeof antes), nullptr);
    ASSERT_EQ(::chdir(plantilla.c_str()), 0);
    Apertura a, renombrada;
    {
        EntornoTemporal entorno;
        entorno.fija("FREETDSCONF", "alias.conf");
        ConexionFreeTds c;
        a = intentaAbrir(c, cadena("Tardio"));
        // The folder itself, not its path: renamed since, it is still the one entered.
        std::filesystem::rename(plantilla, plantilla + "-renombrada");
        renombrada = intentaAbrir(c, cadena("Tardio"));
    }
    ASSERT_EQ(::chdir(antes), 0);
    std::filesystem::remove_all(plantilla + "-renombrada");
    EXPECT_TRUE(a.abierta) << a.descripcion;
    EXPECT_TRUE(renombrada.abierta) << renombrada.descripcion;
    EXPECT_EQ(servidor_.logins().size(), 2u);
    // The same server served it: nothing was restarted to pick the changes up.
    EXPECT_EQ(servidorDeLogins(), servidor);

    // And a login after that takes the restored ones: the alias is gone.
    ConexionFreeTds c;
    EXPECT_FALSE(intentaAbrir(c, cadena("Tardio", kLoginSa + "Connect Timeout=3;")).abierta);
}

// The server has one thread (it forks), and each login process is forked
// from it without an exec: it is this process's own child (so waited for and
// killed by pid), and shares the server's auxiliary vector, which an exec
// would have replaced (new stack, new random bytes).
TEST_F(ServidorLogins, ForksEachLoginFromASingleThreadedServerWithoutAnExec) {
    ConexionFreeTds c;
    c.setConnectionString(cadena(servidorEn(servidor_.port())));
    c.open();
    const pid_t servidor = servidorDeLogins();
    ASSERT_GT(servidor, 0);
    const auto logins = hijosLlamados("tarpelino-login");
    ASSERT_EQ(logins.size(), 1u);
    const pid_t login = logins[0];
    EXPECT_EQ(campoEstado(servidor, "Threads"), "1");
    EXPECT_EQ(campoEstado(login, "PPid"), std::to_string(::getpid()));
    const std::string auxServidor = leeArchivo("/proc/" + std::to_string(servidor) + "/auxv");
    const std::string auxLogin = leeArchivo("/proc/" + std::to_string(login) + "/auxv");
    if (auxServidor.empty() || auxLogin.empty())
        GTEST_SKIP() << "sin permiso para leer /proc/<pid>/auxv de procesos no volcables";
    EXPECT_EQ(auxLogin, auxServidor) << "el proceso de login no es una copia del servidor";
    c.close();
    // Still one thread after a login has come and gone.
    EXPECT_EQ(campoEstado(servidor, "Threads"), "1");
}

// The server dies between forking a login and telling its pid: stopped by a tracer at that fork
// and killed there (by this test: the client itself leaves a traced server alone). The open still logs in,
// through a new server; the orphaned login process, which only its channel can name, is reaped rather than
// left a zombie until the application ends.
TEST_F(ServidorLogins, ALoginForkedByAServerThatDiedBeforeAnsweringIsStillReaped) {
    preparaLogins();
    const pid_t servidor = servidorDeLogins();
    ASSERT_GT(servidor, 0);
    if (::ptrace(PTRACE_SEIZE, servidor, nullptr, PTRACE_O_TRACEFORK) != 0)
        GTEST_SKIP() << "this machine does not let a test trace its children (error " << errno << ")";

    Apertura a;
    std::thread abre([&] {
        ConexionFreeTds c;
        a = intentaAbrir(c, cadena(servidorEn(servidor_.port())));
    });
    // The server is held at its tracer's stops longer than the client glances at it: a tracer's
    // stop is not taken for a stopped server, which would be replaced (killed before the fork is seen).
    std::this_thread::sleep_for(400ms);
    // Stops until the fork; anything else the server meets is passed on.
    pid_t huerfano = -1;
    for (int estado = 0; huerfano < 0 && ::waitpid(servidor, &estado, __WALL) == servidor;) {
        if (!WIFSTOPPED(estado))
            break;
        if ((estado >> 8) == (SIGTRAP | (PTRACE_EVENT_FORK << 8))) {
            unsigned long pid = 0;
            ::ptrace(PTRACE_GETEVENTMSG, servidor, nullptr, &pid);
            huerfano = pid_t(pid);
            ::kill(servidor, SIGKILL);
        } else {
            const int senal = WSTOPSIG(estado) == SIGTRAP ? 0 : WSTOPSIG(estado);
            ::ptrace(PTRACE_CONT, servidor, nullptr, senal);
        }
    }
    ASSERT_GT(huerfano, 0);
    // The forked process starts stopped for the tracer: let go, it runs as it would have.
    int estado = 0;
    ASSERT_EQ(::waitpid(huerfano, &estado, __WALL), huerfano);
    ::ptrace(PTRACE_DETACH, huerfano, nullptr, 0);
    abre.join();
    EXPECT_TRUE(a.abierta) << a.descripcion;

    // Reaped as any closing login is: on later calls, or at the end.
    terminaServidorLogins();
    const auto existe = [huerfano] {
        return ::access(("/proc/" + std::to_string(huerfano)).c_str(), F_OK) == 0;
    };
    EXPECT_FALSE(existe()) << "el proceso " << huerfano << " sigue sin recoger";
}
