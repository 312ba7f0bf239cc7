// What stopped each kind of failed open, as the code a program acts on, and
// the version the server gave in its PRELOGIN reply whenever one came.
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

#include <optional>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {

struct Caso {
    const char* nombre;
    std::optional<stand_in::Config> servidor; // none: `destino` as written
    std::string destino;
    std::string resto = kLoginSa + "Connect Timeout=5;";
    std::string proveedor = "SQLNCLI10";
    std::string baseDatos = "MASTER";
    std::optional<Causa> causa; // none: it opens
    bool conVersion = true;     // the server's PRELOGIN reply came
};

stand_in::Config con(std::function<void(stand_in::Config&)> cambia) {
    stand_in::Config c = configConSa();
    c.productVersion = {16, 0, 4135};
    cambia(c);
    return c;
}

} // namespace

TEST(CausaDelFallo, EachKindOfFailureCarriesItsCodeAndTheServersVersionWhenItAnswered) {
    using stand_in::Fault;
    const std::string nul(1, '\0');
    const Caso casos[] = {
        {"abre", con([](auto&) {}), "", kLoginSa, "SQLNCLI10", "MASTER", std::nullopt},
        {"valor", con([](auto&) {}), "", "User ID=sa;Password=\"a" + nul + "b\";", "SQLNCLI10", "MASTER",
         Causa::Valor, false},
        {"nombre", std::nullopt, "no-existe.invalid", kLoginSa, "SQLNCLI10", "MASTER", Causa::Nombre, false},
        {"instancia", std::nullopt, "127.0.0.77\\SQLEXPRESS", kLoginSa, "SQLNCLI10", "MASTER",
         Causa::Instancia, false},
        {"tcp", std::nullopt, "127.0.0.1,1", kLoginSa, "SQLNCLI10", "MASTER", Causa::Tcp, false},
        {"no_sql_server", con([](auto& c) { c.fault = Fault::Garbage; }), "", kLoginSa, "SQLNCLI10", "MASTER",
         Causa::NoSqlServer, false},
        {"cifrado_estricto", con([](auto& c) { c.encryption = stand_in::Encryption::Strict; }), "", kLoginSa,
         "SQLNCLI10", "MASTER", Causa::CifradoEstricto, false},
        {"tls_version", con([](auto& c) {
             c.encryption = stand_in::Encryption::Required;
             c.tlsMinimum = stand_in::TlsVersion::Tls1_2;
         }),
         "", kLoginSa, "SQLNCLI", "MASTER", Causa::TlsVersion},
        {"tls_suite", con([](auto& c) {
             c.encryption = stand_in::Encryption::Required;
             c.tlsCipherSuites = stand_in::TlsCipherSuites::EcdheAesGcm;
         }),
         "", kLoginSa, "SQLNCLI", "MASTER", Causa::TlsSuite},
        {"kerberos", std::nullopt, "127.0.0.1,1", "Integrated Security=SSPI;", "SQLNCLI10", "MASTER",
         Causa::Kerberos, false},
        {"inicio_sesion", con([](auto&) {}), "", "User ID=sa;Password=otra;", "SQLNCLI10", "MASTER",
         Causa::InicioSesion},
        {"base_datos", con([](auto&) {}), "", kLoginSa, "SQLNCLI10", "NoExiste", Causa::BaseDatos},
        {"tiempo", con([](auto& c) { c.fault = Fault::NeverAnswerLogin; }), "",
         kLoginSa + "Connect Timeout=1;", "SQLNCLI10", "MASTER", Causa::Tiempo},
    };
    EntornoTemporal entorno;
    entorno.fija("KRB5CCNAME", "FILE:/nonexistent/tarpelino-sin-ticket");
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        std::optional<stand_in::Server> servidor;
        std::string destino = caso.destino;
        if (caso.servidor) {
            servidor.emplace(*caso.servidor);
            servidor->start();
            destino = servidorEn(servidor->port());
        }
        ConexionFreeTds c;
        const Apertura r = intentaAbrir(c, cadena(destino, caso.resto, caso.proveedor, caso.baseDatos));
        EXPECT_EQ(r.abierta, !caso.causa) << r.descripcion;
        const auto datos = c.datosApertura();
        ASSERT_TRUE(datos);
        EXPECT_EQ(datos->causa, caso.causa) << r.descripcion;
        EXPECT_EQ(datos->versionServidor, caso.conVersion ? "16.0.4135" : "");
        if (!caso.causa)
            contiene(c.resumenApertura(), "\nVersión: SQL Server 2022 (16.0.4135)\n");
        // A description that states the open's time states the one the open reports.
        if (r.descripcion.find(" tras ") != std::string::npos) {
            const auto ms = datos->duracion.count();
            contiene(r.descripcion,
                     " tras " + std::to_string(ms / 1000) + "," + std::to_string(ms % 1000 / 100) + " s");
        }
    }
}
