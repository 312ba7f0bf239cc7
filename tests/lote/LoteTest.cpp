#include "lote/Lote.h"
#include "data_access/ConexionFreeTds.h"
#include "data_access/VersionesTlsServidor.h"
#include "login_shared/Proveedor.h"
#include "lote/Contrasena.h"
#include "tests/stand_in/blackhole_listener.h"
#include "tests/stand_in/server.h"
#include "tests/support/EntornoTemporal.h"
#include "tests/support/PuertoQueRechaza.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <set>
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

std::string en(std::uint16_t puerto) {
    return "127.0.0.1," + std::to_string(puerto);
}

struct Ejecucion {
    int estado = -1;
    std::string salida;
    std::string errores;
    bool sePidioContrasena = false;
};

probe::FabricaConexion fabricaCon(int segundos, const std::string& archivoCa = {}) {
    return [segundos, archivoCa] {
        return data_access::nuevaConexion(std::chrono::seconds(segundos), false, nullptr, archivoCa);
    };
}

Ejecucion ejecuta(const std::vector<std::string>& argumentos, const std::string& entrada = {},
                  std::optional<std::string> contrasena = std::nullopt, std::size_t anchuraSalida = 0) {
    std::istringstream in(entrada);
    std::ostringstream out, err;
    Ejecucion r;
    lote::Entorno e(in, out, err);
    e.anchuraSalida = anchuraSalida;
    e.fabrica = [](int segundos, const std::string& archivoCa) { return fabricaCon(segundos, archivoCa); };
    e.contrasenaDelEntorno = lote::tomaContrasenaDelEntorno;
    e.pideContrasena = [&](const std::string&) -> std::optional<login_shared::Secreto> {
        r.sePidioContrasena = true;
        if (!contrasena)
            return std::nullopt;
        return login_shared::Secreto(*contrasena);
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

// The servers an estate test meets most: one that logs sa in, one that takes
// TLS 1.2 only (the 2005 client cannot reach it) and one whose sa has another password.
struct ServidoresDeSiempre {
    ServidoresDeSiempre() {
        for (stand_in::Server* s : {&bueno, &moderno, &ajeno})
            s->start();
    }
    stand_in::Server bueno{configConSa()};
    stand_in::Server moderno{configSoloTls12()};
    stand_in::Server ajeno{conOtraClave()};

private:
    static stand_in::Config conOtraClave() {
        stand_in::Config c = configConSa();
        c.logins = {{"sa", "otra"}};
        return c;
    }
};
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
    // A list with no server in it asks for nothing: not "every pass logged in".
    for (const std::string lista : {"", "\n  \n", "# solo comentarios\r\n", "\xEF\xBB\xBF\r\n"}) {
        const Ejecucion r = ejecuta({"-"}, lista);
        EXPECT_EQ(r.estado, lote::kErrorUso) << lista;
        EXPECT_NE(r.errores.find("no hay ningún servidor"), std::string::npos) << r.errores;
    }
    EXPECT_EQ(ejecuta({"--help"}).estado, lote::kTodasCorrectas);
    const Ejecucion version = ejecuta({"--version"});
    EXPECT_EQ(version.salida.rfind("tarpelino-lote ", 0), 0u);
}

TEST(Lote, StatusIsZeroWhenEveryPassLoggedInOneOtherwiseAndTwoWhenAFileCannotBeRead) {
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
    EXPECT_NE(r.salida.find("Conexión CORRECTA.,true,,,7.2"), std::string::npos) << r.salida;
    // A file that cannot be read is a usage error, as grep takes it, failures or not; the other
    // files' servers are tested and written first.
    entorno.fija(lote::kVariableContrasena, kPassword);
    const Ejecucion ilegible =
        ejecuta({"--usuario", "sa", "--formato", "csv", "/no-existe/servidores.txt", "-"},
                en(bueno.port()) + "\n" + en(moderno.port()) + "\n");
    EXPECT_EQ(ilegible.estado, lote::kErrorUso);
    EXPECT_EQ(ilegible.errores, "tarpelino-lote: /no-existe/servidores.txt: no se puede leer: no existe\n");
    EXPECT_EQ(std::count(ilegible.salida.begin(), ilegible.salida.end(), '\n'), 3) << ilegible.salida;
}

// What the window shows for each pass is what ejecutaPasada gives: the same
// verdict and the same description, row by row, in the window's order; and
// what stopped a failed pass, and how a login was encrypted, as fields.
TEST(Lote, EveryRowHasTheWindowsVerdictAndDescriptionAndWhatStoppedOrEncryptedEachPass) {
    ServidoresDeSiempre servidores;
    stand_in::Server& bueno = servidores.bueno;
    stand_in::Server& moderno = servidores.moderno;
    stand_in::Server& ajeno = servidores.ajeno;
    stand_in::Config soloLogin = configConSa();
    soloLogin.encryption = stand_in::Encryption::LoginOnly;
    stand_in::Server cifraLogin(soloLogin);
    cifraLogin.start();
    PuertoQueRechaza cerrado;

    struct Caso {
        std::string servidor;
        bool correcta2005, correcta2008;
        const char* causa2005; // nullptr: none, it logged in
        const char* causa2008;
        const char* cifrado2008; // nullptr: it did not log in
        bool versionServidor;    // the server answered PRELOGIN: else the 2008 pass is not made
    };
    const std::vector<Caso> casos{
        {en(bueno.port()), true, true, nullptr, nullptr, "ninguno", true},
        {en(moderno.port()), false, true, "tls_version", nullptr, "sesion", true},
        {en(ajeno.port()), false, false, "inicio_sesion", "inicio_sesion", nullptr, true},
        {en(cifraLogin.port()), true, true, nullptr, nullptr, "inicio_sesion", true},
        {en(cerrado.puerto()), false, false, "tcp", "tcp", nullptr, false},
    };
    std::string lista;
    for (const Caso& c : casos)
        lista += c.servidor + "\n";

    EntornoTemporal entorno;
    entorno.fija(lote::kVariableContrasena, kPassword);
    const Ejecucion r =
        ejecuta({"--usuario", "sa", "--bbdd", "master", "--paralelo", "3", "--formato", "json", "-"}, lista);
    EXPECT_EQ(r.estado, lote::kAlgunFallo);
    auto filas = nlohmann::json::parse(r.salida);
    ASSERT_EQ(filas.size(), casos.size());
    // Written as each server ends: in the list's order only by chance.
    std::sort(filas.begin(), filas.end(), [&](const auto& a, const auto& b) {
        const auto lugar = [&](const nlohmann::json& f) {
            return std::find_if(casos.begin(), casos.end(),
                                [&](const Caso& c) { return c.servidor == f["servidor"]; }) -
                   casos.begin();
        };
        return lugar(a) < lugar(b);
    });

    for (std::size_t i = 0; i < casos.size(); ++i) {
        const Caso& caso = casos[i];
        SCOPED_TRACE(caso.servidor);
        EXPECT_EQ(filas[i]["servidor"], caso.servidor);
        for (std::size_t g = 0; g < login_shared::generaciones().size(); ++g) {
            const probe::ResultadoPasada ventana =
                probe::ejecutaPasada(fabricaCon(15), login_shared::generaciones()[g].nombre, caso.servidor,
                                     "master", "sa", login_shared::Secreto(kPassword));
            const auto& pasada = filas[i][login_shared::generaciones()[g].version];
            SCOPED_TRACE(login_shared::generaciones()[g].version);
            if (g == 1 && !caso.versionServidor) {
                EXPECT_EQ(pasada["veredicto"], "No intentada.");
                EXPECT_EQ(pasada["causa"], caso.causa2008);
                continue;
            }
            EXPECT_EQ(pasada["veredicto"],
                      ventana.correcta ? probe::kConexionCorrecta : probe::kConexionIncorrecta);
            EXPECT_EQ(pasada["descripcion"].is_null() ? std::string()
                                                      : pasada["descripcion"].get<std::string>(),
                      ventana.descripcion);
            EXPECT_EQ(pasada["correcta"], g == 0 ? caso.correcta2005 : caso.correcta2008);
            const char* causa = g == 0 ? caso.causa2005 : caso.causa2008;
            if (causa)
                EXPECT_EQ(pasada["causa"], causa);
            else
                EXPECT_TRUE(pasada["causa"].is_null()) << pasada["causa"];
            // The server's own error number, where it refused with one.
            if (causa && std::string(causa) == "inicio_sesion")
                EXPECT_EQ(pasada["error_servidor"], 18456);
            else
                EXPECT_TRUE(pasada["error_servidor"].is_null()) << pasada["error_servidor"];
            EXPECT_EQ(pasada["version_servidor"].is_string(), caso.versionServidor)
                << pasada["version_servidor"];
            if (ventana.correcta) {
                EXPECT_EQ(pasada["tds"], ventana.datos->resumen.versionTds);
                EXPECT_EQ(pasada["puerto"], ventana.datos->resumen.puerto);
                EXPECT_EQ(pasada["direccion"], "127.0.0.1");
            }
        }
        const auto& p2008 = filas[i]["2008"];
        if (!caso.cifrado2008) {
            EXPECT_TRUE(p2008["cifrado"].is_null());
            continue;
        }
        EXPECT_EQ(p2008["cifrado"], caso.cifrado2008);
        if (std::string(caso.cifrado2008) == "ninguno") {
            EXPECT_TRUE(p2008["suite"].is_null());
            EXPECT_TRUE(p2008["certificado"].is_null());
            EXPECT_EQ(p2008["tls"], "ninguno");
            continue;
        }
        EXPECT_EQ(p2008["tls"], "1.2");
        EXPECT_EQ(p2008["suite"].get<std::string>().rfind("TLS_", 0), 0u) << p2008["suite"];
        const auto& certificado = p2008["certificado"];
        EXPECT_EQ(certificado["sujeto"], "CN=SSL_Self_Signed_Fallback");
        EXPECT_EQ(certificado["autofirmado"], true);
        EXPECT_EQ(certificado["bits"], 2048);
        const std::string caduca = certificado["caduca"];
        EXPECT_EQ(caduca.size(), 10u);
        EXPECT_EQ(caduca[4], '-');
        EXPECT_EQ(caduca[7], '-');
    }
}

// A domain account's wrong password, tried on server after server, locks the
// account out: after the first refusal nothing more is tried, unless asked.
// SQL logins, each a server's own, keep both passes on every server.
TEST(Lote, AfterADomainAccountIsRefusedNoMoreLoginsAreMadeUnlessAskedTo) {
    std::vector<std::unique_ptr<stand_in::Server>> servidores;
    std::string lista;
    for (int i = 0; i < 3; ++i) {
        stand_in::Config c = configConSa();
        c.logins = {{"sa", "otra"}};
        servidores.push_back(std::make_unique<stand_in::Server>(c));
        servidores.back()->start();
        lista += en(servidores.back()->port()) + "\n";
    }
    struct Caso {
        std::vector<std::string> opciones;
        std::size_t intentos;
    };
    for (const Caso& caso : std::vector<Caso>{{{"--usuario", "DOMINIO\\dba"}, 1},
                                              {{"--usuario", "DOMINIO\\dba", "--arriesgar-bloqueo"}, 6},
                                              {{"--usuario", "sa"}, 6}}) {
        SCOPED_TRACE(caso.opciones[1] + " " + std::to_string(caso.opciones.size()));
        for (auto& s : servidores)
            s->clearLogins();
        EntornoTemporal entorno;
        entorno.fija(lote::kVariableContrasena, kPassword);
        std::vector<std::string> argumentos = caso.opciones;
        for (const char* a : {"--paralelo", "3", "--formato", "jsonl", "-"})
            argumentos.push_back(a);
        const Ejecucion r = ejecuta(argumentos, lista);
        EXPECT_EQ(r.estado, lote::kAlgunFallo);
        std::size_t intentos = 0;
        for (auto& s : servidores)
            intentos += s->logins().size();
        EXPECT_EQ(intentos, caso.intentos);

        std::istringstream lineas(r.salida);
        std::string linea, quienRechazo;
        std::size_t noIntentadas = 0, filas = 0;
        std::vector<std::string> descripciones;
        while (std::getline(lineas, linea)) {
            const auto fila = nlohmann::json::parse(linea);
            ++filas;
            for (const char* g : {"2005", "2008"}) {
                EXPECT_EQ(fila[g]["correcta"], false);
                if (fila[g]["causa"] != "cuenta_protegida") {
                    quienRechazo = fila["servidor"];
                    continue;
                }
                ++noIntentadas;
                EXPECT_EQ(fila[g]["veredicto"], "No intentada.");
                EXPECT_NE(fila[g]["descripcion"].get<std::string>().find("--arriesgar-bloqueo"),
                          std::string::npos);
                descripciones.push_back(fila[g]["descripcion"]);
            }
        }
        EXPECT_EQ(filas, 3u);
        EXPECT_EQ(noIntentadas, 6 - caso.intentos);
        for (const std::string& d : descripciones)
            EXPECT_NE(d.find("el servidor " + quienRechazo + " rechazó"), std::string::npos) << d;
    }
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

namespace {

// Every server refuses a domain account's password, but only once its proof
// (NTLM's AUTHENTICATE) has gone out: each ends the login differently after it.
std::size_t pruebasRecibidas(const std::vector<std::unique_ptr<stand_in::Server>>& servidores) {
    std::size_t n = 0;
    for (const auto& s : servidores)
        n += s->ntlmAuthenticates().size();
    return n;
}

} // namespace

// Whatever ends a login after the password's proof reached the server (the
// deadline, junk, a close, a reset), the domain may have counted it: no other
// proof goes out in the run.
TEST(Lote, AfterADomainPasswordsProofWentOutAndDidNotLogInNoOtherIsSent) {
    struct Caso {
        const char* nombre;
        stand_in::Ntlm trasLaPrueba;
        stand_in::Encryption cifrado;
        const char* causa; // of the pass that sent it
    };
    const Caso casos[] = {
        {"hangs, inside TLS", stand_in::Ntlm::Hang, stand_in::Encryption::Required, "tiempo"},
        {"answers junk", stand_in::Ntlm::Junk, stand_in::Encryption::NotSupported, "protocolo"},
        {"closes", stand_in::Ntlm::Close, stand_in::Encryption::LoginOnly, "conexion"},
        {"resets, inside TLS", stand_in::Ntlm::Reset, stand_in::Encryption::Required, "conexion"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        std::vector<std::unique_ptr<stand_in::Server>> servidores;
        std::string lista;
        for (int i = 0; i < 6; ++i) {
            stand_in::Config c = configConSa();
            c.ntlm = caso.trasLaPrueba;
            c.encryption = caso.cifrado;
            servidores.push_back(std::make_unique<stand_in::Server>(c));
            servidores.back()->start();
            lista += en(servidores.back()->port()) + "\n";
        }
        EntornoTemporal entorno;
        entorno.fija(lote::kVariableContrasena, kPassword);
        const Ejecucion r = ejecuta(
            {"--usuario", "CORP\\alice", "--paralelo", "4", "--tiempo", "2", "--formato", "jsonl", "-"},
            lista);
        EXPECT_EQ(r.estado, lote::kAlgunFallo);
        EXPECT_EQ(pruebasRecibidas(servidores), 1u);
        std::map<std::string, int> causas;
        std::istringstream lineas(r.salida);
        for (std::string linea; std::getline(lineas, linea);)
            for (const char* g : {"2005", "2008"})
                ++causas[nlohmann::json::parse(linea)[g]["causa"].get<std::string>()];
        EXPECT_EQ(causas[caso.causa], 1) << r.salida;
        EXPECT_EQ(causas["cuenta_protegida"], 11) << r.salida;
        for (auto& s : servidores)
            s->stop();
    }
}

namespace {

// What a scripted login comes to.
struct Desenlace {
    bool abre = false;
    std::optional<login_shared::Causa> causa;
    login_shared::Etapa etapa = login_shared::Etapa::RespuestaLogin;
    bool prueba = true; // the password's proof reached the server
};

// Logins an estate test scripts by server and generation; the opens in the order they came.
struct GuionLote {
    std::function<Desenlace(const std::string& servidor, const std::string& proveedor, int orden)> desenlace;
    // A refusal waits, for a while, for another login to be under way beside it: wrong proofs
    // that may go out side by side then do.
    bool refusalEsperaCompania = false;

    std::mutex mutex;
    std::condition_variable cambio;
    int enVuelo = 0;
    std::vector<std::pair<std::string, bool>> aperturas; // server, accepted
};

std::string valorDe(const std::string& cadena, const std::string& clave) {
    const std::size_t inicio = cadena.find(clave + "=");
    if (inicio == std::string::npos)
        return {};
    const std::size_t desde = inicio + clave.size() + 1;
    return cadena.substr(desde, cadena.find(';', desde) - desde);
}

class ConexionGuionada : public data_access::Conexion {
public:
    explicit ConexionGuionada(std::shared_ptr<GuionLote> guion) : guion_(std::move(guion)) {}
    void setConnectionString(const std::string& cadena) override { cadena_ = cadena; }
    std::string connectionString() const override { return cadena_; }
    void open() override {
        const std::string servidor = valorDe(cadena_, "Server");
        Desenlace d;
        {
            std::unique_lock<std::mutex> cerrojo(guion_->mutex);
            d = guion_->desenlace(servidor, valorDe(cadena_, "Provider"), int(guion_->aperturas.size()));
            guion_->aperturas.emplace_back(servidor, d.abre);
            ++guion_->enVuelo;
            guion_->cambio.notify_all();
            if (!d.abre && guion_->refusalEsperaCompania)
                guion_->cambio.wait_for(cerrojo, std::chrono::milliseconds(300),
                                        [&] { return guion_->enVuelo > 1; });
            --guion_->enVuelo;
        }
        datos_.emplace();
        datos_->abierta = d.abre;
        datos_->resumen.direccion = servidor;
        datos_->causa = d.causa;
        datos_->etapa = d.etapa;
        datos_->pruebaEnviada = d.prueba;
        abierta_ = d.abre;
        if (!d.abre)
            throw login_shared::ErrorConexion("no");
    }
    void close() override { abierta_ = false; }
    bool isOpen() const override { return abierta_; }
    std::optional<data_access::DatosApertura> datosApertura() const override { return datos_; }

private:
    std::shared_ptr<GuionLote> guion_;
    std::string cadena_;
    bool abierta_ = false;
    std::optional<data_access::DatosApertura> datos_;
};

} // namespace

// The guard, by what the passes before it came to: one server that accepts any
// password lets no burst of wrong proofs through; a refusal after another kind
// of failure, or one that says no cause, still trips it; a database that could
// not be opened is no wrong password.
TEST(Lote, ADomainAccountLogsInOnOneServerAtATimeUntilTwoHaveAcceptedIt) {
    using login_shared::Causa;
    struct Caso {
        const char* nombre;
        std::function<Desenlace(const std::string&, const std::string&, int)> desenlace;
        const char* paralelo;
        std::size_t rechazosEnviados; // opens that did not log in
        std::size_t aperturas;        // 0: as the threads' turns fall
    };
    const Desenlace rechazo{false, Causa::InicioSesion};
    const Caso casos[] = {
        {"the first server asked accepts any password, the others refuse",
         [aceptante = std::make_shared<std::string>(), &rechazo](const std::string& servidor,
                                                                 const std::string&, int orden) {
             if (orden == 0)
                 *aceptante = servidor;
             return servidor == *aceptante ? Desenlace{true, std::nullopt} : rechazo;
         },
         "4", 1, 0},
        {"a refusal in the 2008 pass after the 2005 one failed its TLS",
         [&](const std::string& servidor, const std::string& proveedor, int) {
             return servidor == "s0" && proveedor == "SQLNCLI"
                        ? Desenlace{false, Causa::TlsVersion, login_shared::Etapa::Tls, false}
                        : rechazo;
         },
         "1", 2, 2},
        {"a refusal that says no cause of its own",
         [&](const std::string&, const std::string&, int) {
             return Desenlace{false, std::nullopt, login_shared::Etapa::RespuestaLogin, false};
         },
         "1", 1, 1},
        {"a database the server could not open",
         [&](const std::string& servidor, const std::string&, int) {
             return servidor == "s0" ? Desenlace{false, Causa::BaseDatos} : Desenlace{true, std::nullopt};
         },
         "1", 2, 12},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        auto guion = std::make_shared<GuionLote>();
        guion->desenlace = caso.desenlace;
        guion->refusalEsperaCompania = true;
        std::istringstream in("s0\ns1\ns2\ns3\ns4\ns5\n");
        std::ostringstream out, err;
        lote::Entorno e(in, out, err);
        e.fabrica = [guion](int, const std::string&) -> probe::FabricaConexion {
            return [guion] { return std::make_unique<ConexionGuionada>(guion); };
        };
        e.contrasenaDelEntorno = [] { return std::optional(login_shared::Secreto(kPassword)); };
        EXPECT_EQ(
            lote::ejecutaLote(
                {"--usuario", "CORP\\alice", "--paralelo", caso.paralelo, "--formato", "jsonl", "-"}, e),
            lote::kAlgunFallo);
        std::size_t rechazos = 0;
        for (const auto& [servidor, acepto] : guion->aperturas)
            rechazos += !acepto;
        EXPECT_EQ(rechazos, caso.rechazosEnviados) << out.str();
        if (caso.aperturas != 0) {
            EXPECT_EQ(guion->aperturas.size(), caso.aperturas) << out.str();
        }
    }
}

// --versiones-tls: each server's TLS versions, one handshake per version inside
// its PRELOGIN (a strict server's in its TDS 8.0 handshake), and never a LOGIN7.
// The passes get no connection object here, so that every byte a stand-in reads is the probe's.
TEST(Lote, VersionesTlsListsTheHandshakesEachServerCompletesWithoutALogin) {
    struct Caso {
        stand_in::Encryption cifrado;
        stand_in::TlsVersion minimo, maximo;
        std::vector<std::string> aceptadas;
        std::string motivo; // a part of the reason an empty list gives
    };
    using stand_in::Encryption;
    using stand_in::TlsVersion;
    const std::vector<Caso> casos{
        {Encryption::LoginOnly, TlsVersion::Tls1_0, TlsVersion::Tls1_2, {"1.0", "1.1", "1.2"}, {}},
        {Encryption::Required, TlsVersion::Tls1_2, TlsVersion::Tls1_2, {"1.2"}, {}},
        {Encryption::LoginOnly, TlsVersion::Tls1_0, TlsVersion::Tls1_0, {"1.0"}, {}},
        {Encryption::NotSupported, TlsVersion::Tls1_0, TlsVersion::Tls1_2, {}, "ENCRYPT_NOT_SUP"},
        // The stand-in's strict mode speaks TLS 1.2 only.
        {Encryption::Strict, TlsVersion::Tls1_2, TlsVersion::Tls1_2, {"1.2 (estricto)"}, {}},
    };
    std::vector<std::unique_ptr<stand_in::Server>> servidores;
    std::string lista;
    for (const Caso& caso : casos) {
        stand_in::Config c = configConSa();
        c.encryption = caso.cifrado;
        c.tlsMinimum = caso.minimo;
        c.tlsMaximum = caso.maximo;
        servidores.push_back(std::make_unique<stand_in::Server>(c));
        servidores.back()->start();
        lista += en(servidores.back()->port()) + "\n";
    }
    PuertoQueRechaza cerrado;
    lista += en(cerrado.puerto()) + "\n";

    std::istringstream in(lista);
    std::ostringstream out, err;
    lote::Entorno e(in, out, err);
    e.fabrica = [](int, const std::string&) -> probe::FabricaConexion { return [] { return nullptr; }; };
    e.sondaTls = [](int segundos) -> lote::SondaTls {
        return [segundos](const std::string& servidor, const std::vector<login_shared::VersionTls>& sabidas) {
            return data_access::versionesTlsDe(servidor, std::chrono::seconds(segundos), nullptr, {},
                                               sabidas);
        };
    };
    lote::ejecutaLote({"--versiones-tls", "--tiempo", "10", "--formato", "jsonl", "-"}, e);

    std::map<std::string, nlohmann::json> filas;
    std::istringstream lineas(out.str());
    for (std::string linea; std::getline(lineas, linea);) {
        const auto fila = nlohmann::json::parse(linea);
        filas[fila["servidor"]] = fila;
    }
    ASSERT_EQ(filas.size(), casos.size() + 1) << out.str() << err.str();
    for (std::size_t i = 0; i < casos.size(); ++i) {
        const nlohmann::json& fila = filas[en(servidores[i]->port())];
        EXPECT_EQ(fila["tls_aceptadas"].get<std::vector<std::string>>(), casos[i].aceptadas) << fila.dump();
        if (casos[i].aceptadas.empty())
            EXPECT_NE(fila["tls_motivo"].get<std::string>().find(casos[i].motivo), std::string::npos)
                << fila.dump();
        else
            EXPECT_TRUE(fila["tls_motivo"].is_null()) << fila.dump();
        EXPECT_TRUE(servidores[i]->logins().empty()) << fila.dump();
    }
    const nlohmann::json& sinServidor = filas[en(cerrado.puerto())];
    EXPECT_TRUE(sinServidor["tls_aceptadas"].empty());
    EXPECT_NE(sinServidor["tls_motivo"].get<std::string>().find("conexión TCP rechazada"), std::string::npos)
        << sinServidor.dump();
}

// The table ends with each generation's shape: its passes that logged in and
// those that failed by cause, over the servers counted; within the terminal,
// every line of it starting with its generation.
TEST(Lote, TheTableEndsWithEachGenerationsCountsByCause) {
    ServidoresDeSiempre servidores;
    stand_in::Server& bueno = servidores.bueno;
    stand_in::Server& moderno = servidores.moderno;
    stand_in::Server& ajeno = servidores.ajeno;
    PuertoQueRechaza cerrado;
    const std::string lista = en(bueno.port()) + "\n" + en(moderno.port()) + "\n" + en(bueno.port()) + "\n" +
                              en(ajeno.port()) + "\n" + en(cerrado.puerto()) + "\n";
    const std::map<std::string, std::string> esperado{
        {"2005", "2 correctas; 3 fallidas: 1 tcp, 1 tls_version, 1 inicio_sesion"},
        {"2008", "3 correctas; 2 fallidas: 1 tcp (1 no intentada), 1 inicio_sesion"},
    };
    for (const std::size_t anchura : {0u, 40u}) {
        SCOPED_TRACE(anchura);
        EntornoTemporal entorno;
        entorno.fija(lote::kVariableContrasena, kPassword);
        const Ejecucion r =
            ejecuta({"--usuario", "sa", "--paralelo", "3", "-"}, lista, std::nullopt, anchura);
        EXPECT_EQ(r.estado, lote::kAlgunFallo);
        const std::size_t resumen = r.salida.find("\n\nResumen de 5 servidores:\n");
        ASSERT_NE(resumen, std::string::npos) << r.salida;
        std::istringstream lineas(r.salida.substr(resumen + 2));
        std::string linea;
        std::getline(lineas, linea);
        std::map<std::string, std::string> leido;
        while (std::getline(lineas, linea)) {
            if (anchura != 0) {
                EXPECT_LE(linea.size(), anchura) << linea;
            }
            const std::size_t fin = linea.find("  ");
            ASSERT_NE(fin, std::string::npos) << linea;
            std::string& texto = leido[linea.substr(0, fin)];
            texto += (texto.empty() ? "" : " ") + linea.substr(linea.find_first_not_of(' ', fin));
        }
        EXPECT_EQ(leido, esperado) << r.salida;
    }
}

namespace {

// Logins by server: those named in `guion` come to what it says for each generation
// (none: the login goes through); the rest are real, within 1 s. Every open is counted.
struct Aperturas {
    std::map<std::string, std::vector<std::optional<Desenlace>>> guion;
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> hechas; // server -> providers, in order
};

class ConexionContada : public data_access::Conexion {
public:
    explicit ConexionContada(std::shared_ptr<Aperturas> aperturas) : aperturas_(std::move(aperturas)) {}
    void setConnectionString(const std::string& cadena) override { cadena_ = cadena; }
    std::string connectionString() const override { return cadena_; }
    void open() override {
        const std::string servidor = valorDe(cadena_, "Server");
        const std::string proveedor = valorDe(cadena_, "Provider");
        {
            std::lock_guard<std::mutex> cerrojo(aperturas_->mutex);
            aperturas_->hechas[servidor].push_back(proveedor);
        }
        const auto guion = aperturas_->guion.find(servidor);
        if (guion == aperturas_->guion.end()) {
            auto real = std::make_unique<data_access::ConexionFreeTds>(std::chrono::seconds(1));
            // A resolver that never answers this name.
            real->setResolucionFija({{"mudo.invalid", {}}});
            conexion_ = std::move(real);
            conexion_->setConnectionString(cadena_);
            conexion_->open();
            return;
        }
        std::size_t g = 0;
        while (login_shared::todasLasGeneraciones()[g].nombre != proveedor)
            ++g;
        const std::optional<Desenlace> d = guion->second.at(g);
        datos_.emplace();
        datos_->abierta = !d;
        if (d) {
            datos_->causa = d->causa;
            datos_->etapa = d->etapa;
            throw login_shared::ErrorConexion("no");
        }
    }
    void close() override {
        if (conexion_)
            conexion_->close();
    }
    bool isOpen() const override { return conexion_ ? conexion_->isOpen() : datos_ && datos_->abierta; }
    std::optional<data_access::DatosApertura> datosApertura() const override {
        return conexion_ ? conexion_->datosApertura() : datos_;
    }

private:
    std::shared_ptr<Aperturas> aperturas_;
    std::string cadena_;
    std::unique_ptr<data_access::Conexion> conexion_;
    std::optional<data_access::DatosApertura> datos_;
};

} // namespace

// Once a pass reached no SQL Server (no name, no instance, no TCP connection, or
// the deadline before one), the server's later passes are not made: their rows say
// so, with its cause. Failing once the server was reached, they all are made.
TEST(Lote, AServerNoPassReachedGetsNoLaterPassAndItsRowsSaySo) {
    using login_shared::Causa;
    using login_shared::Etapa;
    stand_in::Server moderno(configSoloTls12());
    moderno.start();
    PuertoQueRechaza cerrado;
    // A firewall that drops every packet.
    stand_in::BlackholeListener cortafuegos("127.0.7.1");
    cortafuegos.start();
    const auto falla = [](Causa causa, Etapa etapa) { return std::optional(Desenlace{false, causa, etapa}); };
    struct Caso {
        std::string servidor;
        std::vector<std::optional<Desenlace>> guion; // empty: a real login
        std::size_t aperturas;                       // of the four generations'
        const char* causa;                           // of the passes not made
        const char* quien;                           // the generation whose pass found no server
    };
    const std::vector<Caso> casos{
        {en(cerrado.puerto()), {}, 1, "tcp", "2005"},
        {"mudo.invalid,1433", {}, 1, "tiempo", "2005"},
        {"sin-nombre", {falla(Causa::Nombre, Etapa::NombreHost), {}, {}, {}}, 1, "nombre", "2005"},
        {en(moderno.port()), {}, 4, nullptr, nullptr},
        {"instancia", {falla(Causa::Instancia, Etapa::Browser), {}, {}, {}}, 1, "instancia", "2005"},
        {"127.0.7.1," + std::to_string(cortafuegos.port()), {}, 1, "tiempo", "2005"},
        {"mudo-tras-conectar", {falla(Causa::Tiempo, Etapa::Prelogin), {}, {}, {}}, 4, nullptr, nullptr},
        {"cierra-tras-conectar", {falla(Causa::Tcp, Etapa::Prelogin), {}, {}, {}}, 4, nullptr, nullptr},
        {"cae-despues",
         {falla(Causa::TlsVersion, Etapa::Tls), falla(Causa::Tcp, Etapa::ConexionTcp), {}, {}},
         2,
         "tcp",
         "2008"},
    };
    auto aperturas = std::make_shared<Aperturas>();
    std::string lista;
    for (const Caso& c : casos) {
        lista += c.servidor + "\n";
        if (!c.guion.empty())
            aperturas->guion[c.servidor] = c.guion;
    }
    std::istringstream in(lista);
    std::ostringstream out, err;
    lote::Entorno e(in, out, err);
    e.fabrica = [aperturas](int, const std::string&) -> probe::FabricaConexion {
        return [aperturas] { return std::make_unique<ConexionContada>(aperturas); };
    };
    e.contrasenaDelEntorno = [] { return std::optional(login_shared::Secreto(kPassword)); };
    // The TLS versions' probe is no pass, but it would take the same road.
    auto sondeados = std::make_shared<std::pair<std::mutex, std::set<std::string>>>();
    e.sondaTls = [sondeados](int) -> lote::SondaTls {
        return [sondeados](const std::string& servidor, const std::vector<login_shared::VersionTls>&) {
            std::lock_guard<std::mutex> cerrojo(sondeados->first);
            sondeados->second.insert(servidor);
            return login_shared::VersionesTls{{"1.2"}, {}};
        };
    };
    EXPECT_EQ(lote::ejecutaLote({"--usuario", "sa", "--generaciones", "todas", "--versiones-tls",
                                 "--paralelo", "4", "--formato", "jsonl", "-"},
                                e),
              lote::kAlgunFallo);
    std::map<std::string, nlohmann::json> filas;
    std::istringstream lineas(out.str());
    for (std::string linea; std::getline(lineas, linea);) {
        const auto fila = nlohmann::json::parse(linea);
        filas[fila["servidor"]] = fila;
    }
    ASSERT_EQ(filas.size(), casos.size()) << out.str() << err.str();
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.servidor);
        EXPECT_EQ(aperturas->hechas[c.servidor].size(), c.aperturas);
        const bool alcanzado = c.aperturas == login_shared::todasLasGeneraciones().size();
        EXPECT_EQ(sondeados->second.count(c.servidor), alcanzado ? 1u : 0u);
        if (!alcanzado) {
            EXPECT_NE(filas[c.servidor]["tls_motivo"].get<std::string>().find("no llegó a ningún SQL Server"),
                      std::string::npos);
        }
        for (std::size_t g = 0; g < login_shared::todasLasGeneraciones().size(); ++g) {
            const auto& pasada = filas[c.servidor][login_shared::todasLasGeneraciones()[g].version];
            SCOPED_TRACE(login_shared::todasLasGeneraciones()[g].version);
            if (g < c.aperturas) {
                EXPECT_NE(pasada["veredicto"], "No intentada.") << pasada;
                continue;
            }
            EXPECT_EQ(pasada["veredicto"], "No intentada.");
            EXPECT_EQ(pasada["correcta"], false);
            EXPECT_EQ(pasada["causa"], c.causa);
            EXPECT_TRUE(pasada["tiempo_ms"].is_null()) << pasada;
            EXPECT_NE(pasada["descripcion"].get<std::string>().find(std::string("el intento con ") + c.quien +
                                                                    " no llegó a ningún SQL Server en " +
                                                                    c.servidor),
                      std::string::npos)
                << pasada;
        }
    }
}
