#include "lote/Lote.h"
#include "data_access/ConexionFreeTds.h"
#include "lote/Contrasena.h"
#include "tests/stand_in/server.h"
#include "tests/support/EntornoTemporal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string kPassword = "Secr3t!";

stand_in::Config configConSa() {
    stand_in::Config c;
    c.logins = {{"sa", kPassword}};
    return c;
}

// A loopback port that refuses connections: bound, never listened on, held for the test.
class PuertoQueRechaza {
public:
    PuertoQueRechaza() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            ADD_FAILURE() << "no se pudo reservar un puerto";
        puerto_ = ntohs(a.sin_port);
    }
    ~PuertoQueRechaza() { ::close(fd_); }
    std::uint16_t puerto() const { return puerto_; }

private:
    int fd_ = -1;
    std::uint16_t puerto_ = 0;
};

std::string en(std::uint16_t puerto) {
    return "127.0.0.1," + std::to_string(puerto);
}

struct Ejecucion {
    int estado = -1;
    std::string salida;
    std::string errores;
    bool sePidioContrasena = false;
};

probe::FabricaConexion fabricaCon(int segundos) {
    return [segundos] { return data_access::nuevaConexion(std::chrono::seconds(segundos)); };
}

Ejecucion ejecuta(const std::vector<std::string>& argumentos, const std::string& entrada = {},
                  std::optional<std::string> contrasena = std::nullopt) {
    std::istringstream in(entrada);
    std::ostringstream out, err;
    Ejecucion r;
    lote::Entorno e(in, out, err);
    e.fabrica = fabricaCon;
    e.contrasenaDelEntorno = lote::tomaContrasenaDelEntorno;
    e.pideContrasena = [&](const std::string&) {
        r.sePidioContrasena = true;
        return contrasena;
    };
    r.estado = lote::ejecutaLote(argumentos, e);
    r.salida = out.str();
    r.errores = err.str();
    return r;
}

// A server the 2005 client cannot reach: it takes TLS 1.2 only.
stand_in::Config configSoloTls12() {
    stand_in::Config c = configConSa();
    c.encryption = stand_in::Encryption::Required;
    c.tlsMinimum = stand_in::TlsVersion::Tls1_2;
    return c;
}

} // namespace

TEST(Lote, UsageErrorsEndWithStatusTwoAndTryNothing) {
    for (const auto& argumentos : std::vector<std::vector<std::string>>{{},
                                                                        {"--password", "x", "-"},
                                                                        {"--paralelo", "ocho", "-"},
                                                                        {"--tiempo", "0", "-"},
                                                                        {"--nada", "-"}}) {
        const Ejecucion r = ejecuta(argumentos, "127.0.0.1,1\n");
        EXPECT_EQ(r.estado, lote::kErrorUso);
        EXPECT_EQ(r.salida, "");
        EXPECT_EQ(r.errores.rfind("tarpelino-lote: ", 0), 0u) << r.errores;
        EXPECT_NE(r.errores.find("--help"), std::string::npos) << r.errores;
    }
    EXPECT_EQ(ejecuta({"--help"}).estado, lote::kTodasCorrectas);
    const Ejecucion version = ejecuta({"--version"});
    EXPECT_EQ(version.salida.rfind("tarpelino-lote ", 0), 0u);
}

TEST(Lote, StatusIsZeroOnlyWhenEveryPassLoggedInAndOneOtherwise) {
    stand_in::Server bueno(configConSa());
    bueno.start();
    stand_in::Server moderno(configSoloTls12());
    moderno.start();
    EntornoTemporal entorno;
    entorno.fija(lote::kVariableContrasena, kPassword);
    EXPECT_EQ(ejecuta({"--usuario", "sa", "-"}, en(bueno.port()) + "\n" + en(bueno.port()) + "\n").estado,
              lote::kTodasCorrectas);
    entorno.fija(lote::kVariableContrasena, kPassword);
    // The 2005 client cannot reach a server that takes TLS 1.2 only: one pass failed.
    EXPECT_EQ(ejecuta({"--usuario", "sa", "-"}, en(bueno.port()) + "\n" + en(moderno.port()) + "\n").estado,
              lote::kAlgunFallo);
    // A line that is not a server: named, the others still tried, and the run is not all well.
    entorno.fija(lote::kVariableContrasena, kPassword);
    const Ejecucion r =
        ejecuta({"--usuario", "sa", "--formato", "csv", "-"}, "# lista\n" + en(bueno.port()) + "\nsrv,0\n");
    EXPECT_EQ(r.estado, lote::kAlgunFallo);
    EXPECT_NE(r.errores.find("entrada estándar, línea 3: El puerto «0»"), std::string::npos) << r.errores;
    EXPECT_EQ(std::count(r.salida.begin(), r.salida.end(), '\n'), 2) << r.salida;
    EXPECT_NE(r.salida.find("Conexión CORRECTA.,7.2"), std::string::npos) << r.salida;
}

// What the window shows for each pass is what ejecutaPasada gives: the same
// verdict and the same description, row by row, in the window's order.
TEST(Lote, EveryRowHasTheWindowsVerdictAndDescriptionForBothPasses) {
    stand_in::Server bueno(configConSa());
    bueno.start();
    stand_in::Server moderno(configSoloTls12());
    moderno.start();
    stand_in::Config otraClave = configConSa();
    otraClave.logins = {{"sa", "otra"}};
    stand_in::Server ajeno(otraClave);
    ajeno.start();
    stand_in::Config minimo73 = configConSa();
    minimo73.minimumTdsVersion = stand_in::tds_version::v7_3A;
    stand_in::Server nuevo(minimo73);
    nuevo.start();
    PuertoQueRechaza cerrado;
    const std::vector<std::string> servidores{en(bueno.port()), en(moderno.port()), en(ajeno.port()),
                                              en(nuevo.port()), en(cerrado.puerto())};
    std::string lista;
    for (const std::string& s : servidores)
        lista += s + "\n";

    EntornoTemporal entorno;
    entorno.fija(lote::kVariableContrasena, kPassword);
    const Ejecucion r =
        ejecuta({"--usuario", "sa", "--bbdd", "master", "--paralelo", "3", "--formato", "json", "-"}, lista);
    EXPECT_EQ(r.estado, lote::kAlgunFallo);
    const auto filas = nlohmann::json::parse(r.salida);
    ASSERT_EQ(filas.size(), servidores.size());

    std::vector<bool> correctas;
    for (std::size_t i = 0; i < servidores.size(); ++i) {
        EXPECT_EQ(filas[i]["servidor"], servidores[i]);
        for (const probe::Generacion& g : probe::kGeneraciones) {
            const probe::ResultadoPasada ventana =
                probe::ejecutaPasada(fabricaCon(15), g.proveedor, servidores[i], "master", "sa", kPassword);
            const auto& fila = filas[i][g.version];
            EXPECT_EQ(fila["veredicto"],
                      ventana.correcta ? probe::kConexionCorrecta : probe::kConexionIncorrecta)
                << servidores[i] << " " << g.version;
            EXPECT_EQ(fila["descripcion"].is_null() ? std::string() : fila["descripcion"].get<std::string>(),
                      ventana.descripcion)
                << servidores[i] << " " << g.version;
            correctas.push_back(ventana.correcta);
            if (ventana.correcta) {
                EXPECT_EQ(fila["tds"], ventana.datos->resumen.versionTds);
                EXPECT_EQ(fila["puerto"], ventana.datos->resumen.puerto);
                EXPECT_EQ(fila["direccion"], "127.0.0.1");
            }
        }
    }
    // What each stand-in was told to do: all, 2008 only, none, 2008 only, none.
    EXPECT_EQ(correctas,
              (std::vector<bool>{true, true, false, true, false, false, false, true, false, false}));
    EXPECT_EQ(filas[1]["2008"]["tls"], "1.2");
}

TEST(Lote, ThePasswordComesFromTheEnvironmentWhichNoLoginProcessInherits) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    EntornoTemporal entorno;
    entorno.fija(lote::kVariableContrasena, kPassword);
    const Ejecucion r = ejecuta({"--usuario", "sa", "--formato", "csv", "-"}, en(servidor.port()) + "\n");
    EXPECT_EQ(r.estado, lote::kTodasCorrectas) << r.salida << r.errores;
    EXPECT_FALSE(r.sePidioContrasena);
    EXPECT_EQ(std::getenv(lote::kVariableContrasena), nullptr);
    const auto logins = servidor.logins();
    ASSERT_EQ(logins.size(), 2u);
    for (const auto& l : logins) {
        EXPECT_EQ(l.user, "sa");
        EXPECT_EQ(l.password, kPassword);
        EXPECT_FALSE(l.integrated);
    }
}

TEST(Lote, WithoutTheVariableThePasswordIsAskedForAndWithoutATerminalItIsAUsageError) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    ::unsetenv(lote::kVariableContrasena);
    const Ejecucion pedida = ejecuta({"--usuario", "sa", "-"}, en(servidor.port()) + "\n", kPassword);
    EXPECT_TRUE(pedida.sePidioContrasena);
    EXPECT_EQ(pedida.estado, lote::kTodasCorrectas) << pedida.salida << pedida.errores;

    const Ejecucion sinTerminal = ejecuta({"--usuario", "sa", "-"}, en(servidor.port()) + "\n");
    EXPECT_EQ(sinTerminal.estado, lote::kErrorUso);
    EXPECT_NE(sinTerminal.errores.find("TARPELINO_PASSWORD"), std::string::npos) << sinTerminal.errores;
    EXPECT_EQ(servidor.logins().size(), 2u);

    // No user: integrated security, no password asked for.
    const Ejecucion integrada = ejecuta({"-"}, en(servidor.port()) + "\n", kPassword);
    EXPECT_FALSE(integrada.sePidioContrasena);
    EXPECT_EQ(integrada.estado, lote::kAlgunFallo);
}
