// The connect timeout bounds the whole open, whatever the network or the
// server does, and an open leaves nothing behind: no process, thread,
// descriptor or file.
#include "data_access/Lanzadera.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/RecursosProceso.h"

#include "tests/stand_in/blackhole_listener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

using namespace data_access;
using namespace std::chrono_literals;

namespace {

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

std::string conTresSegundos(const std::string& servidor) {
    return cadena(servidor, kLoginSa + "Connect Timeout=3;");
}

// Fails unless the open ended within its 3-s limit with a timeout naming `etapa`.
void agotaEn(const Apertura& r, const std::string& etapa) {
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 3s + kMargen) << r.descripcion;
    EXPECT_GE(r.duracion, 2900ms) << r.descripcion;
    contiene(r.descripcion, "Tiempo de espera agotado tras 3,");
    contiene(r.descripcion, "(límite 3 s)");
    contiene(r.descripcion, etapa);
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
        terminaServidorLogins();
        antes_ = Recursos();
    }
    // What is counted leaves out the login server, which lives as long as the application.
    void TearDown() override {
        terminaServidorLogins();
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
    stand_in::Server servidor(configConSa(stand_in::Fault::TricklePrelogin, 2s));
    servidor.start();
    ConexionFreeTds c;
    agotaEn(intentaAbrir(c, conTresSegundos(servidorEn(servidor.port()))), "saludo inicial (PRELOGIN)");
    EXPECT_TRUE(servidor.waitAllClosed(2s));
}

TEST_F(PlazoDeApertura, ASilentLoginReplyIsNamedAsSuch) {
    stand_in::Server servidor(configConSa(stand_in::Fault::NeverAnswerLogin));
    servidor.start();
    ConexionFreeTds c;
    agotaEn(intentaAbrir(c, conTresSegundos(servidorEn(servidor.port()))),
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
    agotaEn(intentaAbrir(c, conTresSegundos(servidorEn(primero.port(), "tres.prueba"))),
            "no aceptó la conexión TCP");
}

TEST_F(PlazoDeApertura, AnAddressThatDropsSynsDoesNotHideTheNextOneThatAnswers) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    stand_in::BlackholeListener mudo("127.0.0.5", servidor.port());
    mudo.start();
    ConexionFreeTds c;
    c.setResolucionFija({{"dos.prueba", {"127.0.0.5", "127.0.0.1"}}});
    const Apertura r = intentaAbrir(c, conTresSegundos(servidorEn(servidor.port(), "dos.prueba")));
    EXPECT_TRUE(r.abierta) << r.descripcion;
    EXPECT_LT(r.duracion, 1s);
}

TEST_F(PlazoDeApertura, TheNameIsLookedUpOnceAndDbLibNeverAsksTheResolverAgain) {
    // Only the component's own lookup knows this name: a second lookup by db-lib would not find it.
    stand_in::Server servidor(configConSa());
    servidor.start();
    ConexionFreeTds c;
    c.setResolucionFija({{"solo-una-vez.invalid", {"127.0.0.1"}}});
    const Apertura r = intentaAbrir(c, conTresSegundos(servidorEn(servidor.port(), "solo-una-vez.invalid")));
    ASSERT_TRUE(r.abierta) << r.descripcion;
    ASSERT_EQ(servidor.logins().size(), 1u);
    EXPECT_EQ(servidor.logins()[0].serverName, "solo-una-vez.invalid");
}

TEST_F(PlazoDeApertura, AResolverThatNeverAnswersEndsAtTheDeadline) {
    ConexionFreeTds c;
    c.setResolucionFija({{"mudo.invalid", {}}});
    agotaEn(intentaAbrir(c, conTresSegundos("mudo.invalid,1433")), "buscando la dirección de «mudo.invalid»");
}

TEST_F(PlazoDeApertura, AnAliasWithAnInstanceAndNoBrowserFailsWithoutFreeTdsOwnSixteenSecondLookup) {
    ConfFreeTds alias("freetds-alias-instancia.conf",
                      "[global]\n\tdump file = /tmp/tarpelino-no-debe-existir.log\n"
                      "[AliasConInstancia]\n\thost = 127.0.0.79\n\tinstance = SQLEXPRESS\n");
    ConexionFreeTds c;
    const Apertura r = intentaAbrir(c, conTresSegundos("AliasConInstancia"));
    EXPECT_FALSE(r.abierta);
    EXPECT_LT(r.duracion, 3s + kMargen);
    contiene(r.descripcion, "SQL Server Browser no está activo en «127.0.0.79»");
    EXPECT_FALSE(std::filesystem::exists("/tmp/tarpelino-no-debe-existir.log"));
}
