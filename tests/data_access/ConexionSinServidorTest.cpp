// Failures of the real connection object that need no SQL Server: a closed
// port, a name that does not resolve, a port that never answers, no browser.
#include "tests/support/AperturaPrueba.h"
#include "tests/support/LoopbackPropio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {

// A TCP socket on a free loopback port; listening or not.
class PuertoLocal {
public:
    explicit PuertoLocal(bool escuchando) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), l);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &l);
        puerto_ = ntohs(a.sin_port);
        // A port that is not listening stays bound to this socket: one given
        // back could be taken by another test's server before the open tries it.
        if (escuchando)
            ::listen(fd_, 4);
    }
    ~PuertoLocal() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    std::string puerto() const { return std::to_string(puerto_); }

private:
    int fd_ = -1;
    std::uint16_t puerto_ = 0;
};

} // namespace

TEST(ConexionSinServidor, TheConnectionStringIsReadBackExactlyAsSet) {
    ConexionFreeTds c;
    const std::string texto = "Provider=SQLNCLI;Server= a;b ;Password=\"x\";";
    c.setConnectionString(texto);
    EXPECT_EQ(c.connectionString(), texto);
    EXPECT_FALSE(c.isOpen());
    EXPECT_THROW(c.close(), ErrorConexion);
}

TEST(ConexionSinServidor, AClosedPortIsRefusedNamingHostAndPort) {
    PuertoLocal cerrado(false);
    const auto inicio = Reloj::now();
    const std::string texto = fallo(cadena("127.0.0.1," + cerrado.puerto()));
    contiene(texto, "Conexión rechazada por 127.0.0.1, puerto " + cerrado.puerto());
    EXPECT_LT(Reloj::now() - inicio, 5s);
    EXPECT_EQ(texto.find("Adaptive"), std::string::npos);
}

TEST(ConexionSinServidor, AServerThatNeverAnswersTimesOutAfterTheConnectTimeout) {
    PuertoLocal mudo(true);
    const auto inicio = Reloj::now();
    const std::string texto =
        fallo(cadena("tcp:127.0.0.1," + mudo.puerto(), kLoginSa + "Connect Timeout=1;"));
    const auto duracion = Reloj::now() - inicio;
    contiene(texto, "Tiempo de espera agotado");
    contiene(texto, "(límite 1 s)");
    EXPECT_LT(duracion, 5s);

    const std::string porDefecto = fallo(cadena("127.0.0.1:" + mudo.puerto()), 2s);
    contiene(porDefecto, "(límite 2 s)");
}

TEST(ConexionSinServidor, WhatCannotBeReachedThisWayIsRefusedSayingWhy) {
    const std::tuple<const char*, const char*, const char*> casos[] = {
        {"no-existe.invalid", "SQLNCLI10", "No se encuentra el servidor «no-existe.invalid»"},
        {"127.0.0.1", "SQLOLEDB", "El proveedor «SQLOLEDB» no está disponible"},
        {"np:\\\\SRV01\\pipe\\sql\\query", "SQLNCLI10", "solo está disponible TCP"},
        {"lpc:SRV01", "SQLNCLI10", "solo está disponible TCP"},
    };
    for (const auto& [servidor, proveedor, dice] : casos) {
        SCOPED_TRACE(servidor);
        contiene(fallo(cadena(servidor, kLoginSa, proveedor), 5s), dice);
    }
}

TEST(ConexionSinServidor, AClosedBrowserPortFailsAtOnce) {
    // No SQL Server Browser on this loopback address: the ICMP answer ends the lookup.
    const auto inicio = Reloj::now();
    const std::string texto = fallo(cadena("127.0.0.77\\SQLEXPRESS"));
    contiene(texto, "SQL Server Browser no está activo en «127.0.0.77»");
    EXPECT_LT(Reloj::now() - inicio, 3s);
}

TEST(ConexionSinServidor, ASilentBrowserEndsWithinTheConnectTimeout) {
    // FreeTDS alone would keep asking for 16 s; the whole open must end in the 2 s given.
    int mudo = -1;
    std::string direccion;
    try {
        direccion = loopbackPropio([&](const std::string& d) {
            mudo = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(1434);
            ::inet_pton(AF_INET, d.c_str(), &a.sin_addr);
            if (::bind(mudo, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                const int error = errno;
                ::close(mudo);
                throw std::system_error(error, std::generic_category(), "UDP " + d + ":1434");
            }
        });
    } catch (const std::system_error& e) {
        GTEST_SKIP() << "cannot bind " << e.what();
    }
    const auto inicio = Reloj::now();
    const std::string texto = fallo(cadena(direccion + "\\SQLEXPRESS", kLoginSa + "Connect Timeout=2;"));
    const auto duracion = Reloj::now() - inicio;
    ::close(mudo);
    contiene(texto, "SQL Server Browser de «" + direccion + "» no respondió");
    contiene(texto, "(límite 2 s)");
    EXPECT_LT(duracion, 3500ms);
}

TEST(ConexionSinServidor, IntegratedSecurityWithoutATicketNamesKinit) {
    EntornoTemporal entorno;
    entorno.fija("KRB5CCNAME", "FILE:/nonexistent/tarpelino-sin-ticket");
    const std::string texto = fallo(cadena("127.0.0.1,1", "Integrated Security=SSPI;"));
    contiene(texto, "Kerberos");
    contiene(texto, "kinit");
}

// The alias file is named after the login server has started (for the open
// before): the login takes the open's environment, not the server's.
TEST(ConexionSinServidor, AFreeTdsAliasIsHonouredFromTheEnvironmentOfTheOpen) {
    PuertoLocal cerrado(false);
    contiene(fallo(cadena("127.0.0.1," + cerrado.puerto())), "Conexión rechazada");
    ConfFreeTds alias(
        "tarpelino-alias.conf",
        "[global]\n\ttds version = 7.4\n[MiAlias]\n\thost = 127.0.0.1\n\tport = " + cerrado.puerto() + "\n");
    contiene(fallo(cadena("MiAlias")), "Conexión rechazada por «MiAlias»");
}

// The login server waiting for the next open may be gone by then (killed by
// the user or the OOM killer): that open starts another and gives the
// server's own answer, not that one's death.
TEST(ConexionSinServidor, ALoginServerThatDiedWhileWaitingIsReplaced) {
    PuertoLocal cerrado(false);
    const std::string texto = cadena("127.0.0.1," + cerrado.puerto());
    contiene(fallo(texto), "Conexión rechazada");
    const auto servidoresDeLogins = [] {
        std::vector<pid_t> pids;
        for (const ProcesoHijo& hijo : procesosHijos())
            if (hijo.nombre == "tarpelino-lanza")
                pids.push_back(hijo.pid);
        return pids;
    };
    const std::vector<pid_t> antes = servidoresDeLogins();
    ASSERT_EQ(antes.size(), 1u) << "no login server was waiting";
    ::kill(antes[0], SIGKILL);
    // Dead, not just signalled: its channel must be closed before the next open looks.
    siginfo_t info{};
    ::waitid(P_PID, antes[0], &info, WEXITED | WNOWAIT);

    contiene(fallo(texto), "Conexión rechazada");
    std::vector<pid_t> despues = servidoresDeLogins();
    despues.erase(std::remove(despues.begin(), despues.end(), antes[0]), despues.end());
    EXPECT_EQ(despues.size(), 1u) << "no other login server was started";
}
