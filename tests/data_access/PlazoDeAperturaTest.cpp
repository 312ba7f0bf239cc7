// The connect timeout bounds the whole open, whatever the network or the
// server does, and an open leaves nothing behind: no process, thread,
// descriptor or file.
#include "data_access/ConexionFreeTds.h"
#include "data_access/ReservaLogin.h"
#include "tests/support/EntornoTemporal.h"
#include "tests/support/RecursosProceso.h"

#include "tests/stand_in/blackhole_listener.h"
#include "tests/stand_in/server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

using namespace data_access;
using namespace std::chrono_literals;

namespace {

using Reloj = std::chrono::steady_clock;
// What the open may take beyond its limit: the login process noticing and reporting.
constexpr auto kMargen = 700ms;

// Descriptors, threads, child processes and files in the temporary folder
// (a private one: see tests/data_access/CMakeLists.txt).
struct Recursos {
    int descriptores = descriptoresAbiertos();
    int hilos = hilosVivos();
    bool hijos = ::waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD;
    int temporales = archivosTemporales();
    bool operator==(const Recursos& o) const {
        return descriptores == o.descriptores && hilos == o.hilos && hijos == o.hijos &&
               temporales == o.temporales;
    }
};

std::string cadena(const std::string& servidor, int segundos = 3) {
    return "Provider=SQLNCLI10;Server=" + servidor +
           ";Database=MASTER;User ID=sa;Password=Secr3t!;Connect Timeout=" + std::to_string(segundos) + ";";
}

struct Resultado {
    bool abierta = false;
    std::string descripcion;
    Reloj::duration duracion{};
};

Resultado abre(ConexionFreeTds& c, const std::string& texto) {
    Resultado r;
    c.setConnectionString(texto);
    const auto inicio = Reloj::now();
    try {
        c.open();
        r.abierta = true;
    } catch (const ErrorConexion& e) {
        r.descripcion = e.what();
    }
    r.duracion = Reloj::now() - inicio;
    return r;
}

// Fails unless the open ended within its 3-s limit with a timeout naming `etapa`.
void agotaEn(const Resultado& r, const std::string& etapa) {
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 3s + kMargen) << r.descripcion;
    EXPECT_GE(r.duracion, 2900ms) << r.descripcion;
    EXPECT_NE(r.descripcion.find("Tiempo de espera agotado tras 3,"), std::string::npos) << r.descripcion;
    EXPECT_NE(r.descripcion.find("(límite 3 s)"), std::string::npos) << r.descripcion;
    EXPECT_NE(r.descripcion.find(etapa), std::string::npos) << r.descripcion;
}

stand_in::Config servidorCon(stand_in::Fault fallo, std::chrono::milliseconds retraso = 0ms) {
    stand_in::Config c;
    c.logins = {{"sa", "Secr3t!"}};
    c.fault = fallo;
    c.faultDelay = retraso;
    return c;
}

} // namespace

class PlazoDeApertura : public ::testing::Test {
protected:
    // A temporary folder of this test's own, so that tests running beside it
    // cannot change what is counted there.
    void SetUp() override {
        std::string plantilla = (std::filesystem::temp_directory_path() / "plazo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(plantilla.data()), nullptr);
        carpeta_ = plantilla;
        entorno_.fija("TMPDIR", carpeta_);
        terminaProcesosEnEspera();
        antes_ = Recursos();
    }
    // What is counted leaves out the login process waiting for the next open.
    void TearDown() override {
        terminaProcesosEnEspera();
        const Recursos despues;
        EXPECT_TRUE(despues == antes_)
            << "la apertura dejó algo atrás: descriptores " << antes_.descriptores << " -> "
            << despues.descriptores << ", hilos " << antes_.hilos << " -> " << despues.hilos << ", hijos "
            << antes_.hijos << " -> " << despues.hijos << ", temporales " << antes_.temporales << " -> "
            << despues.temporales;
        std::filesystem::remove_all(carpeta_);
    }

private:
    EntornoTemporal entorno_;
    std::string carpeta_;
    Recursos antes_;
};

TEST_F(PlazoDeApertura, APreloginReplyTrickledByteByByteEndsAtTheDeadline) {
    // One byte every 2 s resets any per-read timer: only one deadline for the whole open stops it.
    stand_in::Server servidor(servidorCon(stand_in::Fault::TricklePrelogin, 2s));
    servidor.start();
    ConexionFreeTds c;
    agotaEn(abre(c, cadena("127.0.0.1," + std::to_string(servidor.port()))), "saludo inicial (PRELOGIN)");
    EXPECT_TRUE(servidor.waitAllClosed(2s));
}

TEST_F(PlazoDeApertura, ASilentLoginReplyIsNamedAsSuch) {
    stand_in::Server servidor(servidorCon(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    ConexionFreeTds c;
    agotaEn(abre(c, cadena("127.0.0.1," + std::to_string(servidor.port()))),
            "no respondió al inicio de sesión");
}

TEST_F(PlazoDeApertura, ThreeAddressesThatDropEverySynShareOneDeadline) {
    // db-lib alone waits the whole timeout on each address in turn.
    stand_in::BlackholeListener primero("127.0.0.2");
    primero.start();
    stand_in::BlackholeListener segundo("127.0.0.3", primero.port());
    segundo.start();
    stand_in::BlackholeListener tercero("127.0.0.4", primero.port());
    tercero.start();
    ConexionFreeTds c;
    c.setResolucionFija({{"tres.prueba", {"127.0.0.2", "127.0.0.3", "127.0.0.4"}}});
    agotaEn(abre(c, cadena("tres.prueba," + std::to_string(primero.port()))), "no aceptó la conexión TCP");
}

TEST_F(PlazoDeApertura, AnAddressThatDropsSynsDoesNotHideTheNextOneThatAnswers) {
    stand_in::Server servidor(servidorCon(stand_in::Fault::None));
    servidor.start();
    stand_in::BlackholeListener mudo("127.0.0.5", servidor.port());
    mudo.start();
    ConexionFreeTds c;
    c.setResolucionFija({{"dos.prueba", {"127.0.0.5", "127.0.0.1"}}});
    const Resultado r = abre(c, cadena("dos.prueba," + std::to_string(servidor.port())));
    EXPECT_TRUE(r.abierta) << r.descripcion;
    EXPECT_LT(r.duracion, 1s);
    c.close();
}

TEST_F(PlazoDeApertura, TheNameIsLookedUpOnceAndDbLibNeverAsksTheResolverAgain) {
    // Only the component's own lookup knows this name: a second lookup by db-lib would not find it.
    stand_in::Server servidor(servidorCon(stand_in::Fault::None));
    servidor.start();
    ConexionFreeTds c;
    c.setResolucionFija({{"solo-una-vez.invalid", {"127.0.0.1"}}});
    const Resultado r = abre(c, cadena("solo-una-vez.invalid," + std::to_string(servidor.port())));
    ASSERT_TRUE(r.abierta) << r.descripcion;
    c.close();
    ASSERT_EQ(servidor.logins().size(), 1u);
    EXPECT_EQ(servidor.logins()[0].serverName, "solo-una-vez.invalid");
}

TEST_F(PlazoDeApertura, AResolverThatNeverAnswersEndsAtTheDeadline) {
    ConexionFreeTds c;
    c.setResolucionFija({{"mudo.invalid", {}}});
    agotaEn(abre(c, cadena("mudo.invalid,1433")), "buscando la dirección de «mudo.invalid»");
}

TEST_F(PlazoDeApertura, AnAliasWithAnInstanceAndNoBrowserFailsWithoutFreeTdsOwnSixteenSecondLookup) {
    const std::string ruta = ::testing::TempDir() + "freetds-alias-instancia.conf";
    std::ofstream(ruta) << "[global]\n\tdump file = /tmp/tarpelino-no-debe-existir.log\n"
                           "[AliasConInstancia]\n\thost = 127.0.0.79\n\tinstance = SQLEXPRESS\n";
    EntornoTemporal entorno;
    entorno.fija("FREETDSCONF", ruta);
    ConexionFreeTds c;
    const Resultado r = abre(c, cadena("AliasConInstancia"));
    std::remove(ruta.c_str());
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 3s + kMargen);
    EXPECT_NE(r.descripcion.find("SQL Server Browser no está activo en «127.0.0.79»"), std::string::npos)
        << r.descripcion;
    EXPECT_FALSE(std::filesystem::exists("/tmp/tarpelino-no-debe-existir.log"));
}
