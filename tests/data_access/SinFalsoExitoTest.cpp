// What reaches the server is exactly what was typed, or nothing is sent; the
// password never travels in clear or into a log; descriptions show what
// really happened.
#include "tests/support/AperturaPrueba.h"
#include "tests/support/LoopbackPropio.h"

#include "tests/stand_in/browser_responder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <tuple>
#include <unistd.h>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {

std::string repite(const std::string& s, int veces) {
    std::string r;
    for (int i = 0; i < veces; ++i)
        r += s;
    return r;
}

class SinFalsoExito : public ::testing::Test {
protected:
    void SetUp() override {
        stand_in::Config c;
        c.logins = {{"sa", "Secreto1"}, {repite("ñ", 128), repite("ñ", 128)}};
        c.databases = {"Ventas"};
        c.encryption = stand_in::Encryption::LoginOnly;
        servidor = std::make_unique<stand_in::Server>(c);
        servidor->start();
    }

    std::string enPuerto() const { return servidorEn(servidor->port()); }

    // Opens; returns the description of the failure, or "" when it logged in.
    std::string abre(const std::string& server, const std::string& usuario, const std::string& password,
                     const std::string& bd = "MASTER") {
        const std::string login = "User ID=" + usuario + ";Password=\"" + password + "\";Connect Timeout=5;";
        return intentaAbrir(conexion, cadena(server, login, "SQLNCLI10", bd)).descripcion;
    }

    std::unique_ptr<stand_in::Server> servidor;
    ConexionFreeTds conexion;
};

} // namespace

TEST_F(SinFalsoExito, AValueThatCannotTravelAsTypedIsRefusedAndNothingIsSent) {
    const std::string nul(1, '\0');
    // User, password, database, and what the refusal says.
    const std::tuple<std::string, std::string, std::string, const char*> casos[] = {
        // db-lib would read "Secreto1" and log in with it.
        {"sa", "Secreto1" + nul + "otra", "MASTER", "La contraseña contiene un carácter nulo (U+0000)"},
        {"sa" + nul + "x", "Secreto1", "MASTER", "El usuario contiene un carácter nulo"},
        {"sa", "Secreto1", "Ventas" + nul + "x", "La base de datos contiene un carácter nulo"},
        // The window hands a lone U+D800 over as its three UTF-8-shaped bytes.
        {"sa", "Secreto1\xED\xA0\x80", "MASTER", "un sustituto UTF-16 suelto (U+D800)"},
    };
    for (const auto& [usuario, password, bd, dice] : casos)
        contiene(abre(enPuerto(), usuario, password, bd), dice);
    contiene(abre("srv\x01", "sa", "Secreto1"), "«srvU+0001» no es válido");
    EXPECT_EQ(servidor->connectionsAccepted(), 0);
}

TEST_F(SinFalsoExito, ANameLongerThanDnsAllowsIsRefusedAndALegalLongNameWorks) {
    // A valid spelling of 127.0.0.1 that FreeTDS would cut after 255 characters of its configuration.
    const std::string largo = "127.0.0." + std::string(300, '0') + "1," + std::to_string(servidor->port());
    contiene(abre(largo, "sa", "Secreto1"), "un nombre DNS tiene como máximo 253");
    EXPECT_EQ(servidor->connectionsAccepted(), 0);

    const std::string legal = repite(std::string(61, 'a') + ".", 4) + "prueba"; // 254 - 6 = 248 characters
    ASSERT_EQ(legal.size(), 254u);
    const std::string nombre = legal.substr(6);
    conexion.setResolucionFija({{nombre, {"127.0.0.1"}}});
    EXPECT_EQ(abre(nombre + "," + std::to_string(servidor->port()), "sa", "Secreto1"), "");
    ASSERT_EQ(servidor->logins().size(), 1u);
    EXPECT_EQ(servidor->logins()[0].serverName, nombre.substr(0, 128));
}

TEST_F(SinFalsoExito, ValuesOfUpTo128CharactersArriveIntactWhateverTheirBytes) {
    const std::string enes = repite("ñ", 128); // 256 bytes in UTF-8
    EXPECT_EQ(abre(enPuerto(), enes, enes), "");
    ASSERT_EQ(servidor->logins().size(), 1u);
    EXPECT_EQ(servidor->logins()[0].user, enes);
    EXPECT_EQ(servidor->logins()[0].password, enes);

    contiene(abre(enPuerto(), "sa", repite("ñ", 129)),
             "La contraseña tiene 129 caracteres; SQL Server admite como máximo 128.");
    // 128 UTF-16 units, but 256 bytes that no single-byte character set holds.
    contiene(abre(enPuerto(), "sa", repite("😀", 64)),
             "La contraseña ocupa 256 bytes en UTF-8 y la biblioteca cliente (FreeTDS db-lib) admite como "
             "máximo 128");
    EXPECT_EQ(servidor->logins().size(), 1u);
}

TEST_F(SinFalsoExito, AnAliasThatSaysEncryptionOffStillEncryptsTheLoginAndWritesNoLog) {
    const std::string volcado = ::testing::TempDir() + "tarpelino-volcado.log";
    const std::string volcadoEntorno = ::testing::TempDir() + "tarpelino-tdsdump.log";
    // The folder outlives the run: what an earlier one left there is not this open's.
    std::filesystem::remove(volcado);
    std::filesystem::remove(volcadoEntorno);
    ConfFreeTds alias("freetds-sin-cifrado.conf",
                      "[global]\n\tdump file = " + volcado + "\n[SinCifrado]\n\thost = 127.0.0.1\n\tport = " +
                          std::to_string(servidor->port()) + "\n\tencryption = off\n");
    alias.entorno.fija("TDSDUMP", volcadoEntorno);
    EXPECT_EQ(abre("SinCifrado", "sa", "Secreto1"), "");
    ASSERT_EQ(servidor->logins().size(), 1u);
    EXPECT_TRUE(servidor->logins()[0].encrypted);
    EXPECT_FALSE(std::filesystem::exists(volcado));
    EXPECT_FALSE(std::filesystem::exists(volcadoEntorno));
}

// What an alias asks that cannot be honoured is refused in Spanish, before anything is sent.
TEST_F(SinFalsoExito, AnAliasAskingWhatCannotBeHonouredSaysSo) {
    const std::pair<const char*, const char*> casos[] = {
        {"encryption = strict", "pide «encryption = strict», que no es válido: use off, request o require."},
        // Behind the relay db-lib would check the name against 127.0.0.1 and fail for another reason.
        {"ca file = /etc/ssl/certs/ca-certificates.crt", "añada «check certificate hostname = no»"},
    };
    for (const auto& [linea, dice] : casos) {
        SCOPED_TRACE(linea);
        ConfFreeTds alias("freetds-alias.conf", "[Alias]\n\thost = 127.0.0.1\n\tport = " +
                                                    std::to_string(servidor->port()) + "\n\t" + linea + "\n");
        const std::string texto = abre("Alias", "sa", "Secreto1");
        contiene(texto, dice);
        EXPECT_EQ(texto.find("dbstrcpy"), std::string::npos);
    }
    EXPECT_EQ(servidor->connectionsAccepted(), 0);
}

TEST(BrowserQueNoDaElPuerto, AnInstanceWithoutTcpAndAnAnswerThatIsNotValidAreSaidAsSuch) {
    stand_in::BrowserInstance soloCanalizaciones;
    soloCanalizaciones.name = "SQLEXPRESS";
    soloCanalizaciones.tcpEnabled = false;
    soloCanalizaciones.pipe = "\\\\SRV\\pipe\\MSSQL$SQLEXPRESS\\sql\\query";
    std::unique_ptr<stand_in::BrowserResponder> browser;
    std::string direccion;
    try {
        direccion = loopbackPropio([&](const std::string& d) {
            browser = std::make_unique<stand_in::BrowserResponder>(
                d, "SRV", std::vector<stand_in::BrowserInstance>{soloCanalizaciones});
            browser->start();
        });
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << "UDP port 1434 cannot be bound here: " << e.what();
    }
    const std::string texto = cadena(direccion + "\\SQLEXPRESS", kLoginSa + "Connect Timeout=3;", "SQLNCLI");
    contiene(fallo(texto), "existe en «" + direccion + "» pero no tiene TCP/IP habilitado");
    browser->setMalformedReply(std::string("\x05\x10\x00ServerName;SRV", 17));
    contiene(fallo(texto), "respondió con datos que no son una respuesta válida");
}

// What the server sent, read off the wire where db-lib loses it: a message's
// text past a NUL, and a LOGINACK version db-lib does not know (no success).
TEST(RespuestaDelServidor, TextPastANulAndTheLoginAckVersionAreShownAsSent) {
    for (const auto cifrado : {stand_in::Encryption::NotSupported, stand_in::Encryption::LoginOnly}) {
        SCOPED_TRACE(cifrado == stand_in::Encryption::NotSupported ? "en claro" : "solo el login cifrado");
        stand_in::Config config = configConSa();
        config.encryption = cifrado;
        config.refusalTexts = {std::string("antes\0después", 14)};
        stand_in::Server rechaza(config);
        rechaza.start();
        contiene(fallo(cadena(servidorEn(rechaza.port()), kLoginSa, "SQLNCLI")), "antesU+0000después");

        config.refusalTexts.clear();
        config.loginAckVersionOverride = 0x73000003;
        stand_in::Server acepta(config);
        acepta.start();
        contiene(fallo(cadena(servidorEn(acepta.port()), kLoginSa, "SQLNCLI")),
                 "una versión de TDS desconocida (0x73000003)");
    }
}

// A reply that accepts the login and refuses it too, that agrees a TDS
// version the generation's client does not speak or no server sends, or that
// comes in packets db-lib should not have taken, is no success: in clear as
// inside TLS, where this side reads what TLS decrypts for db-lib.
TEST(RespuestaContradictoria, OnlyAWholeReplyThatAcceptsTheLoginAndNothingElseIsASuccess) {
    using Mensaje = stand_in::Config::MessageAfterLoginAck;
    struct Caso {
        const char* nombre;
        std::vector<Mensaje> mensajes;
        bool doneConError;
        std::uint32_t versionLoginAck; // 0: the one agreed
        std::uint8_t tipoPaquete;      // of the packets that carry the acceptance
        const char* proveedor;
        std::vector<std::string> dice; // empty: it opens
        Causa causa;
    };
    const std::string fallido = "Login failed for user 'sa'.";
    const Caso casos[] = {
        {"LOGINACK, then Msg 18456 and a DONE with its error flag",
         {{18456, 14, fallido}},
         true,
         0,
         0x04,
         "SQLNCLI10",
         {"rechazó el inicio de sesión, aunque su respuesta también lo aceptaba (LOGINACK):\n"
          "Msg 18456, nivel 14, estado 1: " +
          fallido},
         Causa::InicioSesion},
        {"LOGINACK, then an error of class 11",
         {{50000, 11, "no"}},
         false,
         0,
         0x04,
         "SQLNCLI",
         {"\nMsg 50000, nivel 11, estado 1: no"},
         Causa::InicioSesion},
        {"LOGINACK, then a message of class 10 (informational)",
         {{50000, 10, "aviso"}},
         false,
         0,
         0x04,
         "SQLNCLI",
         {},
         Causa::Interno},
        // db-lib 1.3 reads a login's DONE without its status.
        {"LOGINACK and a DONE with its error flag, no message",
         {},
         true,
         0,
         0x04,
         "SQLNCLI10",
         {"terminó su respuesta marcándola como error (DONE), sin ningún mensaje"},
         Causa::Protocolo},
        // db-lib 1.3 does not look at the type of a login reply's packets.
        {"the same in packets of type 0x01",
         {},
         true,
         0,
         0x01,
         "SQLNCLI",
         {"terminó su respuesta marcándola como error (DONE)"},
         Causa::Protocolo},
        {"an acceptance in packets of type 0x01", {}, false, 0, 0x01, "SQLNCLI10", {}, Causa::Interno},
        {"TDS 7.4 to the 2005 client",
         {},
         false,
         0x74000004,
         0x04,
         "SQLNCLI",
         {"aceptó el inicio de sesión con TDS 7.4, superior a la TDS 7.2 que pidió el cliente de SQL Server "
          "2005"},
         Causa::Protocolo},
        {"TDS 7.4 to the 2008 client",
         {},
         false,
         0x74000004,
         0x04,
         "SQLNCLI10",
         {"TDS 7.4, superior a la TDS 7.3"},
         Causa::Protocolo},
        // db-lib keeps the version it asked for when it does not know the one sent.
        {"a LOGINACK version no server sends (0x08000000)",
         {},
         false,
         0x08000000,
         0x04,
         "SQLNCLI",
         {"una versión de TDS desconocida (0x08000000)"},
         Causa::Protocolo},
        {"a LOGINACK version no server sends (0x75000000)",
         {},
         false,
         0x75000000,
         0x04,
         "SQLNCLI10",
         {"una versión de TDS desconocida (0x75000000)"},
         Causa::Protocolo},
    };
    for (const auto cifrado : {stand_in::Encryption::NotSupported, stand_in::Encryption::Required})
        for (const Caso& caso : casos) {
            const bool enTls = cifrado == stand_in::Encryption::Required;
            SCOPED_TRACE(std::string(caso.nombre) + (enTls ? ", inside TLS" : ", in clear"));
            stand_in::Config config = configConSa();
            config.encryption = cifrado;
            config.messagesAfterLoginAck = caso.mensajes;
            config.finalDoneError = caso.doneConError;
            config.loginAckVersionOverride = caso.versionLoginAck;
            config.acceptancePacketType = caso.tipoPaquete;
            stand_in::Server servidor(config);
            servidor.start();
            ConexionFreeTds c;
            const Apertura r = intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa, caso.proveedor));
            EXPECT_EQ(r.abierta, caso.dice.empty()) << r.descripcion;
            for (const std::string& parte : caso.dice)
                contiene(r.descripcion, parte);
            const std::optional<Causa> causa = caso.dice.empty() ? std::nullopt : std::optional(caso.causa);
            EXPECT_EQ(c.datosApertura()->causa, causa);
            const bool conError = !caso.mensajes.empty() && caso.mensajes[0].severity > 10;
            EXPECT_EQ(c.datosApertura()->errorServidor,
                      conError ? std::optional(caso.mensajes[0].number) : std::nullopt);
        }
}

// On a server installed with a case-sensitive collation the system database
// is `master` and "MASTER", the default of both programs, is none: the login
// asks for the system database by its own spelling, and for any other
// exactly as given.
TEST(BaseDatosDelSistema, MasterInAnyCaseOpensOnACaseSensitiveServerAndOtherNamesTravelAsTyped) {
    struct Caso {
        std::string baseDatos;
        std::string pedida; // as the server received it
        bool abre;
    };
    const Caso casos[] = {
        {"", "", true},
        {"MASTER", "master", true},
        {"master", "master", true},
        {"Master", "master", true},
        {"Ventas", "Ventas", true},
        {"MASTER2", "MASTER2", false},
        {"ventas", "ventas", false},
    };
    stand_in::Config config = configConSa();
    config.databases = {"Ventas"};
    config.caseSensitiveCollation = true;
    stand_in::Server servidor(config);
    servidor.start();
    for (const Caso& caso : casos) {
        SCOPED_TRACE("«" + caso.baseDatos + "»");
        servidor.clearLogins();
        ConexionFreeTds c;
        const Apertura r =
            intentaAbrir(c, cadena(servidorEn(servidor.port()), kLoginSa, "SQLNCLI10", caso.baseDatos));
        EXPECT_EQ(r.abierta, caso.abre) << r.descripcion;
        ASSERT_EQ(servidor.logins().size(), 1u);
        EXPECT_EQ(servidor.logins()[0].database, caso.pedida);
        if (!caso.abre) {
            EXPECT_EQ(c.datosApertura()->causa, Causa::BaseDatos);
            contiene(r.descripcion, "Msg 4060, nivel 11");
        }
    }
}
