// What is really on the other end of the port: a SQL Server with strict
// encryption (TDS 8.0), another service, or a server that closed, and at
// which stage; each named as such, within the open's one deadline.
#include "login_process/DescripcionFallo.h"
#include "login_process/InicioRespuesta.h"
#include "login_process/Textos.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/ServicioFalso.h"

#include <gtest/gtest.h>

#include <sybdb.h>

using namespace data_access;
using namespace login_shared;
using namespace login_process;
using namespace std::chrono_literals;

namespace {

const std::string kSsh = "SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3";
const std::string kHttp400 = "HTTP/1.1 400 Bad Request\r\nServer: nginx\r\nContent-Type: text/html\r\n"
                             "Content-Length: 0\r\nConnection: close\r\n\r\n";

std::string destinoEn(std::uint16_t puerto) {
    return "127.0.0.1, puerto " + std::to_string(puerto);
}

// The description of one failed open of the generation `proveedor` ("SQLNCLI" 2005, "SQLNCLI10" 2008).
std::string falloEn(std::uint16_t puerto, const std::string& proveedor, int segundos = 5) {
    return fallo(cadena(servidorEn(puerto), kLoginSa + "Connect Timeout=" + std::to_string(segundos) + ";",
                        proveedor));
}

// A 2008 login that reached `direccion` and then failed, with five seconds of its deadline left:
// `describe` gives what the login process says of it as `red` now stands.
struct LoginFallido {
    explicit LoginFallido(const std::string& direccion) {
        peticion.producto = "SQL Server 2008";
        red.conectado = true;
        red.direccion = direccion;
    }
    std::string describe(const Diagnostico& d, const std::string& destino,
                         RespuestaTds8 tds8 = RespuestaTds8::Ninguna) const {
        return describeFallo(d, red, destino, plazo, peticion, tds8).what();
    }
    PeticionLogin peticion;
    const Plazo plazo{5s};
    Relevo::Resultado red;
};

std::string otroServicio(std::uint16_t puerto, const std::string& inicio) {
    return "Lo que responde en " + destinoEn(puerto) + " no es un SQL Server: su respuesta empieza por «" +
           inicio + "». Compruebe el nombre del servidor y el puerto.";
}

std::string soloTls(std::uint16_t puerto) {
    return "Lo que responde en " + destinoEn(puerto) +
           " no es un SQL Server: es un servicio que habla TLS desde el primer byte (un puerto HTTPS, por "
           "ejemplo) y no responde al saludo inicial (PRELOGIN) de SQL Server. Compruebe el nombre del "
           "servidor y el puerto.";
}

const std::string kNingunCliente =
    " Ni el cliente de SQL Server 2005 ni el de SQL Server 2008 admiten el cifrado estricto: no pueden "
    "iniciar sesión en este servidor mientras lo exija.";

} // namespace

TEST(InicioRespuesta, TellsATdsReplyFromTlsAndFromOtherServices) {
    using R = InicioRespuesta;
    EXPECT_EQ(clasificaInicio(""), R::Nada);
    EXPECT_EQ(clasificaInicio(std::string("\x04\x01\x00\x25\x00\x00\x01\x00", 8)), R::Tds);
    EXPECT_EQ(clasificaInicio(std::string("\x04", 1)), R::Tds); // all that came before the close
    // A length under the header's own 8 bytes, or an unknown status bit, is no TDS packet.
    EXPECT_EQ(clasificaInicio(std::string("\x04\x01\x00\x05", 4)), R::Otro);
    EXPECT_EQ(clasificaInicio(std::string("\x04\x80\x00\x25", 4)), R::Otro);
    EXPECT_EQ(clasificaInicio(std::string("\x15\x03\x03\x00\x02\x02\x46", 7)), R::Tls); // an alert
    EXPECT_EQ(clasificaInicio(std::string("\x16\x03\x01\x00\x4a", 5)), R::Tls);         // a handshake
    EXPECT_EQ(clasificaInicio(std::string("\x16\x01", 2)), R::Otro);
    EXPECT_EQ(clasificaInicio(kSsh + "\r\n"), R::Otro);
    EXPECT_EQ(clasificaInicio(kHttp400), R::Otro);
    // MySQL's greeting: a packet length, then binary.
    EXPECT_EQ(clasificaInicio(std::string("\x4a\x00\x00\x00\x0a"
                                          "8.0.33\x00",
                                          12)),
              R::Otro);
}

TEST(InicioRespuesta, TheFirstLineIsCutAtACharacterAndShownSafely) {
    EXPECT_EQ(primeraLinea(kHttp400, 60), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(primeraLinea("\r\n220 smtp ESMTP\r\n", 60), "220 smtp ESMTP");
    EXPECT_EQ(primeraLinea("abcdef", 4), "abcd…");
    EXPECT_EQ(primeraLinea("abcñd", 4), "abc…"); // ñ is two bytes: not cut in half
    const std::string texto =
        login_process::textos::servicioNoSqlServer("srv, puerto 22", "SSH-2.0-\xE2\x80\xAE"
                                                                     "evil\x1b[2J");
    contiene(texto, "«SSH-2.0-U+202EevilU+001B[2J»");
}

TEST(DescripcionDeUnCierre, NamesTheStageTheServerClosedOrResetAt) {
    LoginFallido fallido("127.0.0.1");
    Relevo::Resultado& red = fallido.red;
    const std::pair<Etapa, std::string> casos[] = {
        {Etapa::Prelogin, "durante el saludo inicial (PRELOGIN)."},
        {Etapa::PreparacionLogin,
         "después de responder al saludo inicial (PRELOGIN), antes del inicio de sesión."},
        {Etapa::RespuestaLogin, "durante el inicio de sesión."},
    };
    for (const auto& [etapa, momento] : casos) {
        red.etapa = etapa;
        red.primerosServidor = etapa == Etapa::Prelogin ? "" : std::string("\x04\x01\x00\x25", 4);
        red.cierre = Relevo::Cierre::ServidorCerro;
        EXPECT_EQ(fallido.describe({}, "srv, puerto 1433"),
                  "El servidor srv, puerto 1433 cerró la conexión " + momento);
        red.cierre = Relevo::Cierre::ServidorReinicio;
        EXPECT_EQ(fallido.describe({}, "srv, puerto 1433"),
                  "El servidor srv, puerto 1433 reinició la conexión " + momento);
        // db-lib's own words when the relay saw no close: the same stage.
        red.cierre = Relevo::Cierre::Ninguno;
        Diagnostico d;
        d.errores = {{SYBESEOF, 0, ""}, {SYBEFCON, 0, ""}};
        EXPECT_EQ(fallido.describe(d, "srv, puerto 1433"),
                  "El servidor srv, puerto 1433 cerró la conexión " + momento);
        d.errores = {{SYBEREAD, ECONNRESET, ""}, {SYBEFCON, 0, ""}};
        EXPECT_EQ(fallido.describe(d, "srv, puerto 1433"),
                  "El servidor srv, puerto 1433 reinició la conexión " + momento);
    }
    // Only a close on the PRELOGIN before any byte of the server's is worth asking about TDS 8.0.
    red.cierre = Relevo::Cierre::ServidorCerro;
    red.etapa = Etapa::Prelogin;
    red.primerosServidor.clear();
    EXPECT_TRUE(cerroSinResponderAlPrelogin(red));
    red.primerosServidor = "\x04";
    EXPECT_FALSE(cerroSinResponderAlPrelogin(red));
    red.primerosServidor.clear();
    red.etapa = Etapa::RespuestaLogin;
    EXPECT_FALSE(cerroSinResponderAlPrelogin(red));
}

TEST(ServidorAlOtroLado, AStrictServerIsNamedForBothGenerationsAndNothingIsSentToIt) {
    stand_in::Config c = configConSa();
    c.encryption = stand_in::Encryption::Strict;
    stand_in::Server estricto(c);
    estricto.start();
    const std::string destino = destinoEn(estricto.port());
    EXPECT_EQ(falloEn(estricto.port(), "SQLNCLI10"),
              "El servidor " + destino +
                  " exige cifrado estricto (TDS 8.0, «Force Strict Encryption»): espera la negociación TLS "
                  "antes del saludo inicial (PRELOGIN) y cierra la conexión si lo recibe sin cifrar." +
                  kNingunCliente);
    // The probe is not the generation's client: the 2005 pass asks in TLS 1.2 too, and reads the same.
    EXPECT_EQ(falloEn(estricto.port(), "SQLNCLI"),
              "El servidor " + destino +
                  " exige cifrado estricto (TDS 8.0, «Force Strict Encryption»): espera la negociación TLS "
                  "antes del saludo inicial (PRELOGIN) y cierra la conexión si lo recibe sin cifrar." +
                  kNingunCliente);
    // The probe offered tds/8.0 and the server took it; no login ever reached it.
    const auto saludos = estricto.tlsHandshakes();
    ASSERT_EQ(saludos.size(), 2u);
    for (const auto& saludo : saludos) {
        EXPECT_EQ(saludo.alpn, "tds/8.0");
        EXPECT_EQ(saludo.negotiated, 0x0303);
    }
    EXPECT_TRUE(estricto.logins().empty());
}

TEST(ServidorAlOtroLado, AServerThatSpeaksTlsFirstInVersionsNoClientOffersIsNamedSo) {
    ServicioFalso servicio(ServicioFalso::cierraYRechazaLaVersionTls());
    const std::string destino = destinoEn(servicio.puerto());
    for (const char* proveedor : {"SQLNCLI", "SQLNCLI10"})
        EXPECT_EQ(
            falloEn(servicio.puerto(), proveedor),
            "El servidor " + destino +
                " cerró la conexión al recibir el saludo inicial (PRELOGIN) sin cifrar y espera TLS desde "
                "el primer byte, como un SQL Server que exige cifrado estricto (TDS 8.0), pero rechazó "
                "TLS 1.0, 1.1 y 1.2." +
                kNingunCliente)
            << proveedor;
    EXPECT_EQ(servicio.conexiones(), 4); // the login's and the probe's, for each pass
}

TEST(ServidorAlOtroLado, AServiceThatIsNotSqlServerIsQuoted) {
    ServicioFalso ssh(ServicioFalso::banner(kSsh + "\r\n"));
    EXPECT_EQ(falloEn(ssh.puerto(), "SQLNCLI10"), otroServicio(ssh.puerto(), kSsh));
    ServicioFalso http(ServicioFalso::respondeYCierra(kHttp400));
    EXPECT_EQ(falloEn(http.puerto(), "SQLNCLI"), otroServicio(http.puerto(), "HTTP/1.1 400 Bad Request"));
    // Controls and direction marks in a banner show as code points.
    ServicioFalso raro(ServicioFalso::banner("SSH-2.0-\xE2\x80\xAEnimda\x07\r\n"));
    EXPECT_EQ(falloEn(raro.puerto(), "SQLNCLI10"), otroServicio(raro.puerto(), "SSH-2.0-U+202EnimdaU+0007"));
    // Not asked about TDS 8.0: its first bytes already said what it is.
    EXPECT_EQ(ssh.conexiones() + http.conexiones() + raro.conexiones(), 3);
}

TEST(ServidorAlOtroLado, ATlsOnlyServiceIsNamedWhetherItSendsAnAlertOrJustCloses) {
    ServicioFalso conAlerta(ServicioFalso::soloTls(true));
    EXPECT_EQ(falloEn(conAlerta.puerto(), "SQLNCLI10"), soloTls(conAlerta.puerto()));
    EXPECT_EQ(conAlerta.conexiones(), 1);
    // As OpenSSL 3 does: a close without a word on the PRELOGIN, then a handshake with the probe, and no
    // TDS inside. Not a strict server.
    ServicioFalso callado(ServicioFalso::soloTls(false));
    EXPECT_EQ(falloEn(callado.puerto(), "SQLNCLI10"), soloTls(callado.puerto()));
    EXPECT_EQ(callado.conexiones(), 2);
}

TEST(ServidorAlOtroLado, AServerThatClosesOnPreloginButIsNotStrictIsNotCalledStrict) {
    ServicioFalso cierra(ServicioFalso::cierraAlLeer());
    EXPECT_EQ(falloEn(cierra.puerto(), "SQLNCLI10"),
              "El servidor " + destinoEn(cierra.puerto()) +
                  " cerró la conexión durante el saludo inicial (PRELOGIN).");
    EXPECT_EQ(cierra.conexiones(), 2); // it was asked, and did not answer in TLS

    stand_in::Server reinicia(configConSa(stand_in::Fault::ResetAtOnce));
    reinicia.start();
    EXPECT_EQ(falloEn(reinicia.port(), "SQLNCLI"),
              "El servidor " + destinoEn(reinicia.port()) +
                  " reinició la conexión durante el saludo inicial (PRELOGIN).");
    EXPECT_EQ(reinicia.connectionsAccepted(), 2);
}

TEST(ServidorAlOtroLado, AProbeThatHangsEndsWithinTheOpensDeadline) {
    ServicioFalso calla(ServicioFalso::cierraYCallaAnteTls());
    data_access::ConexionFreeTds c;
    const Apertura r =
        intentaAbrir(c, cadena(servidorEn(calla.puerto()), kLoginSa + "Connect Timeout=2;", "SQLNCLI10"));
    EXPECT_FALSE(r.abierta);
    EXPECT_EQ(r.descripcion, "El servidor " + destinoEn(calla.puerto()) +
                                 " cerró la conexión durante el saludo inicial (PRELOGIN).");
    EXPECT_EQ(calla.conexiones(), 2);
    // The probe would wait 5 s on its own; the open's 2 s bound it.
    EXPECT_LT(r.duracion, 3500ms);
}

TEST(DescripcionDeUnCierre, WhatAnsweredFirstOrTheTds8ProbeTakesPrecedenceAndNamesTheAddress) {
    LoginFallido fallido("10.0.0.5");
    Relevo::Resultado& red = fallido.red;
    red.etapa = Etapa::Prelogin;
    red.cierre = Relevo::Cierre::ServidorCerro;
    EXPECT_EQ(
        fallido.describe({}, "sqlprod, puerto 1433", RespuestaTds8::Tds8),
        "El servidor sqlprod, puerto 1433 (dirección 10.0.0.5) exige cifrado estricto (TDS 8.0, «Force "
        "Strict Encryption»): espera la negociación TLS antes del saludo inicial (PRELOGIN) y cierra la "
        "conexión si lo recibe sin cifrar." +
            kNingunCliente);
    // An address typed as the server is not repeated.
    contiene(fallido.describe({}, "10.0.0.5, puerto 1433", RespuestaTds8::Tds8),
             "El servidor 10.0.0.5, puerto 1433 exige cifrado estricto");
    // Another service's banner is what counts, even when the deadline then ran out waiting for TDS.
    red.cierre = Relevo::Cierre::Ninguno;
    red.agotado = true;
    red.primerosServidor = "220 mail.example.com ESMTP Postfix\r\n";
    contiene(fallido.describe({}, "sqlprod, puerto 25"),
             "no es un SQL Server: su respuesta empieza por «220 mail.example.com ESMTP Postfix»");
}
