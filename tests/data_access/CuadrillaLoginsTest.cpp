// The workers of an estate run serve one login after another: nothing a
// server did to one login reaches the next in the same process.
#include "data_access/CuadrillaLogins.h"
#include "data_access/ConexionFreeTds.h"
#include "data_access/Lanzadera.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "tests/support/AperturaPrueba.h"

#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"
#include "tests/support/MemoriaProceso.h"
#include "tests/support/kerberos/test_kdc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <signal.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {

const std::string kPassword = "Zx9-Contraseña-de-cuadrilla";

// The login processes among this process's children (the login server names itself otherwise).
std::vector<pid_t> procesosLogin() {
    std::vector<pid_t> pids;
    for (const ProcesoHijo& h : procesosHijos())
        if (h.nombre == "tarpelino-login")
            pids.push_back(h.pid);
    return pids;
}

// Whether `texto` is anywhere in the writable memory of `pid`; none when that cannot be read.
std::optional<bool> enMemoria(pid_t pid, const std::string& texto) {
    bool hallado = false;
    const std::size_t leidos = recorreMemoriaEscribible(pid, [&](const std::string& mapa) {
        hallado = mapa.find(texto) != std::string::npos;
        return !hallado;
    });
    return leidos > 0 ? std::optional<bool>(hallado) : std::nullopt;
}

struct Hostil {
    const char* nombre;
    stand_in::Config config;
    const char* proveedor;
};

stand_in::Config conFallo(stand_in::Fault fallo) {
    stand_in::Config c = configConSa(fallo);
    c.logins = {{"sa", kPassword}};
    return c;
}

stand_in::Config soloTls12() {
    stand_in::Config c = conFallo(stand_in::Fault::None);
    c.encryption = stand_in::Encryption::Required;
    c.tlsMinimum = stand_in::TlsVersion::Tls1_2;
    return c;
}

} // namespace

TEST(CuadrillaLogins, AHostileServerLeavesNothingForTheNextLoginInTheSameWorker) {
    const std::string login = "User ID=sa;Password=" + kPassword + ";";
    // The sound server takes the login inside TLS: its summary names the version, suite and certificate.
    stand_in::Config sano = conFallo(stand_in::Fault::None);
    sano.encryption = stand_in::Encryption::Required;
    stand_in::Server servidorSano(sano);
    servidorSano.start();
    const std::string cadenaSana = cadena(servidorEn(servidorSano.port()), login);
    // What a login process of its own makes of it.
    ConexionFreeTds propia(5s);
    propia.setConnectionString(cadenaSana);
    propia.open();
    const std::string esperado = serializa(propia.datosApertura()->resumen);
    propia.close();
    terminaServidorLogins();
    ASSERT_TRUE(procesosLogin().empty());

    stand_in::Config otraPassword = conFallo(stand_in::Fault::None);
    otraPassword.logins = {{"sa", "otra"}};
    const Hostil hostiles[] = {
        {"refuses the login", otraPassword, "SQLNCLI10"},
        {"floods error messages", conFallo(stand_in::Fault::FloodErrors), "SQLNCLI10"},
        {"answers PRELOGIN with garbage", conFallo(stand_in::Fault::Garbage), "SQLNCLI10"},
        {"resets at once", conFallo(stand_in::Fault::ResetAtOnce), "SQLNCLI10"},
        // The 2005 client's TLS versions must not stay for the 2008 login that follows.
        {"takes only TLS 1.2, which the 2005 client lacks", soloTls12(), "SQLNCLI"},
    };
    const auto sigue = [&](const Hostil& h) {
        stand_in::Server hostil(h.config);
        hostil.start();
        const auto cuadrilla = std::make_shared<CuadrillaLogins>();
        ConexionFreeTds primera(5s, false, cuadrilla);
        EXPECT_FALSE(intentaAbrir(primera, cadena(servidorEn(hostil.port()), login, h.proveedor)).abierta);
        const std::vector<pid_t> trabajador = procesosLogin();

        ConexionFreeTds segunda(5s, false, cuadrilla);
        segunda.setConnectionString(cadenaSana);
        EXPECT_NO_THROW(segunda.open());
        ASSERT_TRUE(segunda.datosApertura());
        EXPECT_EQ(serializa(segunda.datosApertura()->resumen), esperado);
        if (segunda.isOpen())
            segunda.close();
        // Both ran in one worker, which now waits for a third login.
        ASSERT_EQ(trabajador.size(), 1u);
        EXPECT_EQ(procesosLogin(), trabajador);
        // And holds no copy of the password while it waits.
        const std::optional<bool> hallada = enMemoria(trabajador[0], kPassword);
        if (hallada)
            EXPECT_FALSE(*hallada) << "la contraseña sigue en la memoria del trabajador";
        else
            std::printf("sin permiso para leer la memoria del trabajador: no se busca la contraseña\n");
    };
    for (const Hostil& h : hostiles) {
        SCOPED_TRACE(h.nombre);
        sigue(h);
        // The crew's worker ends with it.
        terminaServidorLogins();
        EXPECT_TRUE(procesosLogin().empty());
    }
}

namespace {

// A stand-in for a worker back from its login: a child that only lives, and has "said" `dice`
// on its channel (written here into its end before it is handed over).
Hijo trabajadorQueDice(const std::vector<std::pair<char, std::string>>& dice) {
    int par[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, par) != 0)
        return {};
    for (const auto& [tipo, cuerpo] : dice)
        enviaMensaje(par[1], tipo, cuerpo);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;)
            ::pause();
    }
    ::close(par[1]);
    return Hijo(pid, Descriptor(par[0]));
}

// Whether `pid` may still run: neither gone nor a zombie waiting to be reaped.
bool ejecutandose(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string linea;
    std::getline(stat, linea);
    const auto cierre = linea.rfind(')');
    return cierre != std::string::npos && cierre + 2 < linea.size() && linea[cierre + 2] != 'Z' &&
           linea[cierre + 2] != 'X';
}

// This process's login processes that may still run.
std::vector<pid_t> trabajadoresVivos() {
    std::vector<pid_t> pids;
    for (pid_t pid : procesosLogin())
        if (ejecutandose(pid))
            pids.push_back(pid);
    return pids;
}

} // namespace

// A worker is lent again only once it has said that its login is closed and
// wiped; one that stays silent, or says anything else first (a late login's
// answer), is killed and another takes its place.
TEST(CuadrillaLogins, AWorkerIsLentAgainOnlyAfterItSaysItIsReady) {
    const std::pair<const char*, std::vector<std::pair<char, std::string>>> casos[] = {
        {"says it is ready", {{mensaje::kListo, ""}}},
        {"a stage of its login, then ready", {{mensaje::kEtapa, "L"}, {mensaje::kListo, ""}}},
        {"stays alive and silent", {}},
        {"a stage of its login, then silence", {{mensaje::kEtapa, "L"}}},
        {"a login's answer instead", {{mensaje::kFallo, ""}, {mensaje::kListo, ""}}},
    };
    for (const auto& [nombre, dice] : casos) {
        SCOPED_TRACE(nombre);
        const bool listo =
            !dice.empty() && dice.back().first == mensaje::kListo && dice.front().first != mensaje::kFallo;
        CuadrillaLogins cuadrilla;
        Hijo devuelto = trabajadorQueDice(dice);
        const pid_t pid = devuelto.pid();
        ASSERT_GT(pid, 0);
        cuadrilla.recibe(std::move(devuelto), 300ms);
        const std::optional<Hijo> prestado = cuadrilla.presta(5s);
        ASSERT_TRUE(prestado.has_value());
        EXPECT_EQ(prestado->pid() == pid, listo) << "prestado " << prestado->pid() << ", devuelto " << pid;
        if (!listo) {
            // Killed, not left behind.
            const auto fin = std::chrono::steady_clock::now() + 5s;
            while (ejecutandose(pid) && std::chrono::steady_clock::now() < fin)
                std::this_thread::sleep_for(5ms);
            EXPECT_FALSE(ejecutandose(pid)) << "el trabajador " << pid << " sigue vivo";
        }
    }
    terminaServidorLogins();
}

// A worker that served a Kerberos login (whose library keeps state in the
// process), or whose login outlived its deadline (it was stopped: nothing tells
// what it still does), ends or is killed: the next login gets another.
TEST(CuadrillaLogins, AWorkerThatServedKerberosOrOutlivedItsDeadlineIsNotLentAgain) {
    stand_in::Server sano(conFallo(stand_in::Fault::None));
    sano.start();
    const std::string cadenaSana = cadena(servidorEn(sano.port()), "User ID=sa;Password=" + kPassword + ";");

    kerberos_testing::TestKdc kdc;
    stand_in::Config conKeytab;
    conKeytab.keytab = kdc.keytab();
    stand_in::Server kerberos(conKeytab);
    kerberos.start();
    kdc.addServicePrincipal(kerberos_testing::TestKdc::sqlServerPrincipal("127.0.0.1", kerberos.port()));
    kerberos_testing::KerberosEnvironment entorno(kdc);
    stand_in::Server mudo(conFallo(stand_in::Fault::NeverAnswerLogin));
    mudo.start();

    // The worker of each first login, taken as the server has its LOGIN7; the silent server's is
    // stopped there.
    std::atomic<pid_t> trabajador{-1};
    kerberos.setLoginObserver([&](const stand_in::LoginRecord&) {
        for (pid_t pid : trabajadoresVivos())
            trabajador = pid;
    });
    mudo.setLoginObserver([&](const stand_in::LoginRecord&) {
        for (pid_t pid : trabajadoresVivos())
            if (::kill(pid, SIGSTOP) == 0)
                trabajador = pid;
    });
    struct Caso {
        const char* nombre;
        std::string cadena;
        bool abre;
    };
    const Caso casos[] = {
        {"Kerberos", cadena(servidorEn(kerberos.port()), "Integrated Security=SSPI;Connect Timeout=5;"),
         true},
        {"stopped past its deadline",
         cadena(servidorEn(mudo.port()), "User ID=sa;Password=" + kPassword + ";Connect Timeout=1;"), false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const auto cuadrilla = std::make_shared<CuadrillaLogins>();
        trabajador = -1;
        {
            ConexionFreeTds c(5s, false, cuadrilla);
            const Apertura r = intentaAbrir(c, caso.cadena);
            EXPECT_EQ(r.abierta, caso.abre) << r.descripcion;
            if (!caso.abre) {
                // Killed at its deadline: the open waits for no word from it.
                EXPECT_LT(r.duracion, 1s + 700ms) << r.descripcion;
                contiene(r.descripcion, "en este equipo");
            }
        }
        const pid_t primero = trabajador;
        ASSERT_GT(primero, 0);

        ConexionFreeTds segunda(5s, false, cuadrilla);
        segunda.setConnectionString(cadenaSana);
        EXPECT_NO_THROW(segunda.open());
        const std::vector<pid_t> despues = trabajadoresVivos();
        ASSERT_EQ(despues.size(), 1u);
        EXPECT_NE(despues[0], primero) << "el mismo trabajador sirvió el siguiente login";
        segunda.close();
        terminaServidorLogins();
    }
}
