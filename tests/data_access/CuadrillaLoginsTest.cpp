// The workers of an estate run serve one login after another: nothing a
// server did to one login reaches the next in the same process.
#include "data_access/CuadrillaLogins.h"
#include "data_access/ConexionFreeTds.h"
#include "data_access/Lanzadera.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "tests/support/AperturaPrueba.h"

#include "tests/support/MemoriaProceso.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

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
