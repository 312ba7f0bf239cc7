// A click on "Test Conexión" in the real window, through FreeTDS, against the
// loopback SQL Server stand-in: what the user sees and what crossed the wire.
#include "data_access/ConexionFreeTds.h"
#include "tests/stand_in/browser_responder.h"
#include "tests/stand_in/server.h"
#include "tests/support/EntornoTemporal.h"
#include "tests/support/LoopbackPropio.h"
#include "tests/support/PruebasQt.h"
#include "tests/support/VentanaPrueba.h"
#include "tests/support/kerberos/test_kdc.h"

#include <QTemporaryFile>
#include <QTest>
#include <QTextDocument>
#include <unistd.h>

using namespace std::chrono_literals;
using stand_in::Encryption;
using stand_in::Fault;
namespace tds = stand_in::tds_version;

namespace {

const std::string kPassword = "Secr3t!";

// The window's own connection objects, through FreeTDS, with the open's timeout given.
probe::FabricaConexion freeTds(std::chrono::milliseconds espera = 15s) {
    return [espera] { return data_access::nuevaConexion(espera); };
}

stand_in::Config configuracionBase(const std::string& direccion = "127.0.0.1") {
    stand_in::Config c;
    c.address = direccion;
    c.logins = {{"sa", kPassword}, {"ana", "Ab;1 \"x\" 'y' ñó€😀"}};
    c.databases = {"Ventas"};
    return c;
}

QString servidorEn(const stand_in::Server& s, const QString& forma = QStringLiteral("127.0.0.1,%1")) {
    return forma.arg(s.port());
}

void pulsaYAmbasCorrectas(const VentanaPrueba& v) {
    v.pulsaTest();
    v.compruebaResultado(0, true);
    v.compruebaResultado(1, true);
}

// Pass 0 (2005) or 1 (2008) failed, and its description says `parte`, never in db-lib's own words.
void falla(const VentanaPrueba& v, int pasada, const QString& parte) {
    v.compruebaResultado(pasada, false);
    QVERIFY2(v.textoError(pasada).contains(parte), qPrintable(v.textoError(pasada)));
    QVERIFY2(!v.textoError(pasada).contains("Adaptive"), qPrintable(v.textoError(pasada)));
}
void ambasFallan(const VentanaPrueba& v, const QString& parte) {
    falla(v, 0, parte);
    falla(v, 1, parte);
}

} // namespace

class ExtremoAExtremo : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<stand_in::Server> servidor;

    void lanza(stand_in::Config c = configuracionBase()) {
        servidor = std::make_unique<stand_in::Server>(std::move(c));
        servidor->start();
    }

    // As sa, on the stand-in unless another server name is given.
    void rellenaComoSa(const VentanaPrueba& v, const QString& nombre = {}) {
        v.rellena(nombre.isEmpty() ? servidorEn(*servidor) : nombre, "sa", QString::fromStdString(kPassword));
    }

    // Every connection the stand-in accepted ends closed: nothing outlives a click.
    void compruebaTodoCerrado() {
        QVERIFY(servidor->waitAllClosed(5s));
        QCOMPARE(servidor->connectionsClosed(), servidor->connectionsAccepted());
    }

private slots:
    void cleanup() {
        if (servidor)
            servidor->stop();
        servidor.reset();
    }

    void bothGenerationsLogInWithTheTypedValues() {
        lanza();
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        pulsaYAmbasCorrectas(v);

        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QCOMPARE(logins[0].tdsVersion, tds::v7_2);
        QCOMPARE(logins[1].tdsVersion, tds::v7_3B);
        for (const auto& l : logins) {
            QCOMPARE(l.user, std::string("sa"));
            QCOMPARE(l.password, kPassword);
            QCOMPARE(l.database, std::string("master")); // the empty box's MASTER, as the login asks for it
            QCOMPARE(l.applicationName, std::string("Tarpelino"));
            QVERIFY(!l.integrated);
        }
        compruebaTodoCerrado();

        servidor->clearLogins();
        v.caja("txtBD")->setText("ventas");
        v.pulsaTest();
        v.compruebaResultado(1, true);
        QCOMPARE(servidor->logins().at(0).database, std::string("ventas"));
        compruebaTodoCerrado();
    }

    void eachGenerationsTdsVersionIgnoresEnvironmentAndFreetdsConf() {
        QTemporaryFile conf;
        QVERIFY(conf.open() &&
                conf.write("[global]\n\ttds version = 7.1\n\tencryption = off\n\tport = 1\n") &&
                conf.flush());
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        {
            EntornoTemporal entorno;
            entorno.fija("FREETDSCONF", conf.fileName().toStdString())
                .fija("TDSVER", "7.4")
                .fija("TDSPORT", "1");
            v.pulsaTest();
        }

        v.compruebaResultado(0, true);
        v.compruebaResultado(1, true);
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QCOMPARE(logins[0].tdsVersion, tds::v7_2);
        QCOMPARE(logins[1].tdsVersion, tds::v7_3B);
        // The server offers encryption: the password never crossed in clear.
        QVERIFY(logins[0].encrypted && logins[1].encrypted);
        compruebaTodoCerrado();
    }

    void the2005PassAloneFailsWhenTheServerWantsTds73() {
        auto c = configuracionBase();
        c.minimumTdsVersion = tds::v7_3A;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        v.pulsaTest();
        falla(v, 0, "cerró la conexión durante el inicio de sesión");
        v.compruebaResultado(1, true);
        QVERIFY2(v.textoError(0).contains(QStringLiteral("127.0.0.1, puerto %1").arg(servidor->port())),
                 qPrintable(v.textoError(0)));
        compruebaTodoCerrado();

        c.minimumTdsVersion = tds::v7_0;
        servidor->setConfig(c);
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void serverRejectingTheLoginIsShownWithItsMessages_data() {
        QTest::addColumn<QString>("usuario");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("bd");
        QTest::addColumn<QStringList>("mensajes");
        QTest::newRow("password incorrecta")
            << "sa"
            << "malo"
            << "" << QStringList{"Msg 18456, nivel 14, estado 1: Login failed for user 'sa'."};
        QTest::newRow("base de datos inexistente")
            << "sa" << QString::fromStdString(kPassword) << "Nada"
            << QStringList{
                   "Msg 4060, nivel 11, estado 1: Cannot open database \"Nada\" requested by the login. "
                   "The login failed.",
                   "Msg 18456, nivel 14, estado 1: Login failed for user 'sa'."};
        QTest::newRow("usuario de blancos") << "   "
                                            << "x"
                                            << "" << QStringList{"Login failed for user '   '."};
    }
    void serverRejectingTheLoginIsShownWithItsMessages() {
        QFETCH(QString, usuario);
        QFETCH(QString, password);
        QFETCH(QString, bd);
        QFETCH(QStringList, mensajes);
        lanza();
        VentanaPrueba v(freeTds());
        v.rellena(servidorEn(*servidor), usuario, password, bd);
        v.pulsaTest();
        for (int pasada : {0, 1})
            for (const QString& m : mensajes)
                QVERIFY2(v.textoError(pasada).contains(m), qPrintable(v.textoError(pasada)));
        ambasFallan(v, "rechazó el inicio de sesión");
        // A login of blanks is still a SQL login, sent as typed.
        QCOMPARE(servidor->logins().at(0).user, usuario.toStdString());
        QVERIFY(!servidor->logins().at(0).integrated);
        compruebaTodoCerrado();
    }

    void integratedSecurityWithoutATicketSaysKinit() {
        lanza();
        VentanaPrueba v(freeTds());
        v.rellena(servidorEn(*servidor), "", "no se usa");
        v.pulsaTest();
        falla(v, 0, "kinit");
        falla(v, 1, "Kerberos");
        QCOMPARE(int(servidor->logins().size()), 0);
        compruebaTodoCerrado();
    }

    void integratedSecurityWithATicketLogsInAsItsPrincipal() {
        kerberos_testing::TestKdc kdc;
        auto c = configuracionBase();
        c.keytab = kdc.keytab();
        lanza(c);
        kdc.addServicePrincipal(kerberos_testing::TestKdc::sqlServerPrincipal("127.0.0.1", servidor->port()));
        kerberos_testing::KerberosEnvironment entorno(kdc);
        VentanaPrueba v(freeTds());
        v.rellena(servidorEn(*servidor), "", "no se usa");
        pulsaYAmbasCorrectas(v);
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QCOMPARE(logins[0].principal, kdc.userPrincipal());
        QCOMPARE(logins[1].principal, kdc.userPrincipal());
        QVERIFY(logins[0].integrated && logins[1].integrated);
        compruebaTodoCerrado();

        // The server's SPN gone from the KDC: both passes say so, and nothing reaches the server.
        kdc.removePrincipal(kerberos_testing::TestKdc::sqlServerPrincipal("127.0.0.1", servidor->port()));
        kdc.renewUserTicket();
        v.pulsaTest();
        ambasFallan(v, "el KDC no conoce el servicio MSSQLSvc/127.0.0.1:");
        QCOMPARE(int(servidor->logins().size()), 2);
    }

    // Each way Kerberos fails in real networks, named in both passes within the timeout.
    void eachKerberosFailureIsNamedInBothPassesWithinTheTimeout_data() {
        QTest::addColumn<QString>("caso");
        QTest::addColumn<QString>("descripcion");
        QTest::newRow("ticket caducado") << "caducado"
                                         << "(el ticket ha caducado). Obtenga uno con kinit";
        QTest::newRow("otro dominio") << "otro dominio"
                                      << "su ticket es de ana@OTRO.TEST";
        QTest::newRow("KDC inalcanzable") << "KDC caído"
                                          << "no se puede contactar con ningún KDC";
    }
    void eachKerberosFailureIsNamedInBothPassesWithinTheTimeout() {
        QFETCH(QString, caso);
        QFETCH(QString, descripcion);
        kerberos_testing::TestKdc kdc;
        kerberos_testing::TestKdc otro("OTRO.TEST");
        auto c = configuracionBase();
        c.keytab = kdc.keytab();
        lanza(c);
        kdc.addServicePrincipal(kerberos_testing::TestKdc::sqlServerPrincipal("127.0.0.1", servidor->port()));
        std::unique_ptr<kerberos_testing::KerberosEnvironment> entorno;
        if (caso == "otro dominio") {
            kdc.knowRealm(otro);
            entorno = std::make_unique<kerberos_testing::KerberosEnvironment>(kdc, kdc.configFile(),
                                                                              otro.credentialCache());
        } else {
            if (caso == "caducado")
                kdc.expireUserTicket();
            entorno = std::make_unique<kerberos_testing::KerberosEnvironment>(kdc);
            if (caso == "KDC caído")
                kdc.stop();
        }
        VentanaPrueba v(freeTds(3s));
        v.rellena(servidorEn(*servidor), "", "no se usa");
        const auto duracion = v.pulsaTest();
        ambasFallan(v, descripcion);
        QVERIFY2(duracion < 7s, qPrintable(QString::number(duracion.count())));
        QCOMPARE(int(servidor->logins().size()), 0);
    }

    void aWindowsAccountLogsInThroughNtlm() {
        lanza();
        VentanaPrueba v(freeTds());
        v.rellena(servidorEn(*servidor), QStringLiteral("CORP\\alice"), "x");
        v.pulsaTest();
        falla(v, 0, "Msg 18452, nivel 14, estado 1");
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        // NTLM: the account travels in the SSPI blob, not as a SQL login.
        QVERIFY(logins[0].integrated && logins[0].user.empty() && logins[0].password.empty());
        compruebaTodoCerrado();
    }

    void anAliasRequiringEncryptionFailsAgainstAServerWithoutIt() {
        lanza();
        QTemporaryFile conf;
        QVERIFY(
            conf.open() &&
            conf.write(QStringLiteral("[Cifrado]\n\thost = 127.0.0.1\n\tport = %1\n\tencryption = require\n")
                           .arg(servidor->port())
                           .toUtf8()) &&
            conf.flush());
        VentanaPrueba v(freeTds());
        rellenaComoSa(v, "Cifrado");
        {
            EntornoTemporal entorno;
            entorno.fija("FREETDSCONF", conf.fileName().toStdString());
            v.pulsaTest();
        }
        falla(v, 0, "no se pudo negociar el cifrado");
        QCOMPARE(int(servidor->logins().size()), 0);
        compruebaTodoCerrado();
    }

    // Each of these once showed "Conexión CORRECTA." for another password or another server.
    void valuesThatCannotBeSentAreRefusedBeforeConnecting_data() {
        QTest::addColumn<QString>("nombre"); // empty: the stand-in as host,port
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("descripcion");
        const QString password = QString::fromStdString(kPassword);
        QTest::newRow("NUL en la contraseña") << QString() << password + QChar(0) + "otra"
                                              << "La contraseña contiene un carácter nulo (U+0000)";
        QTest::newRow("sustituto suelto en la contraseña")
            << QString() << password + QChar(0xD800) << "un sustituto UTF-16 suelto (U+D800)";
        QTest::newRow("nombre más largo que DNS")
            << "127.0.0." + QString(300, '0') + "1,%1" << password << "un nombre DNS tiene como máximo 253";
    }
    void valuesThatCannotBeSentAreRefusedBeforeConnecting() {
        QFETCH(QString, nombre);
        QFETCH(QString, password);
        QFETCH(QString, descripcion);
        lanza();
        VentanaPrueba v(freeTds());
        v.rellena(nombre.isEmpty() ? servidorEn(*servidor) : servidorEn(*servidor, nombre), "sa", password);
        v.pulsaTest();
        ambasFallan(v, descripcion);
        QCOMPARE(servidor->connectionsAccepted(), 0);
    }

    // The 2005 client never offered more than TLS 1.0; a server that takes TLS 1.2 only refuses it.
    void eachGenerationOffersItsOwnTlsVersions() {
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        c.tlsMinimum = stand_in::TlsVersion::Tls1_2;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        v.pulsaTest();
        falla(v, 0,
              "no acepta ninguna versión de TLS que ofrezca este cliente: el cliente de SQL Server 2005 "
              "ofrece solo TLS 1.0");
        v.compruebaResultado(1, true);
        auto saludos = servidor->tlsHandshakes();
        QCOMPARE(int(saludos.size()), 2);
        QCOMPARE(int(saludos[0].clientHelloVersion), 0x0301);
        QCOMPARE(int(saludos[0].negotiated), 0);
        QCOMPARE(int(saludos[1].negotiated), 0x0303);
        compruebaTodoCerrado();

        // An old server, TLS 1.0 only: both generations get in.
        c.tlsMinimum = c.tlsMaximum = stand_in::TlsVersion::Tls1_0;
        lanza(c);
        rellenaComoSa(v);
        pulsaYAmbasCorrectas(v);
        saludos = servidor->tlsHandshakes();
        QCOMPARE(int(saludos.size()), 2);
        QCOMPARE(int(saludos[0].negotiated), 0x0301);
        QCOMPARE(int(saludos[1].negotiated), 0x0301);
        QCOMPARE(int(saludos[1].clientHelloVersion), 0x0303);
    }

    // Old servers that take only 3DES or only RC4 over TLS 1.0 let both generations in, and each
    // tooltip names the suite and the certificate; one that takes only ECDHE with AES-GCM turns
    // the 2005 client away and says which suites each side has.
    void eachGenerationOffersItsErasCipherSuites() {
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        c.tlsMinimum = c.tlsMaximum = stand_in::TlsVersion::Tls1_0;
        c.legacyCertificate = true;
        const std::pair<stand_in::TlsCipherSuites, QString> antiguos[] = {
            {stand_in::TlsCipherSuites::TripleDes, "Suite: TLS_RSA_WITH_3DES_EDE_CBC_SHA\n"},
            {stand_in::TlsCipherSuites::Rc4, "Suite: TLS_RSA_WITH_RC4_128_"}};
        for (const auto& [suites, linea] : antiguos) {
            c.tlsCipherSuites = suites;
            lanza(c);
            VentanaPrueba v(freeTds());
            rellenaComoSa(v);
            pulsaYAmbasCorrectas(v);
            for (int pasada : {0, 1}) {
                const QString ayuda = v.resultado(pasada)->toolTip();
                QVERIFY2(ayuda.contains(linea), qPrintable(ayuda));
                QVERIFY2(ayuda.contains("\nCertificado: CN=SSL_Self_Signed_Fallback (generado por SQL "
                                        "Server: no se configuró ninguno)\nEmisor: autofirmado\nCaduca: "),
                         qPrintable(ayuda));
                QVERIFY2(
                    ayuda.contains("\nClave: RSA de 1024 bits\nDriver actual (ODBC 18): no aceptaría este "
                                   "certificado."),
                    qPrintable(ayuda));
            }
            compruebaTodoCerrado();
        }

        c.tlsCipherSuites = stand_in::TlsCipherSuites::EcdheAesGcm;
        c.tlsMaximum = stand_in::TlsVersion::Tls1_2;
        c.legacyCertificate = false;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        v.pulsaTest();
        falla(
            v, 0,
            "no acepta ningún conjunto de cifrado (cipher suite) que ofrezca este cliente: el cliente de SQL "
            "Server 2005 ofrece solo TLS 1.0 con TLS_RSA_WITH_AES_128_CBC_SHA, TLS_RSA_WITH_AES_256_CBC_SHA, "
            "TLS_RSA_WITH_RC4_128_SHA, TLS_RSA_WITH_3DES_EDE_CBC_SHA, TLS_RSA_WITH_RC4_128_MD5; el servidor "
            "exige otros (alerta TLS 40, handshake_failure).");
        v.compruebaResultado(1, true);
        const QString ayuda = v.resultado(1)->toolTip();
        QVERIFY2(ayuda.contains("Suite: TLS_ECDHE_RSA_WITH_AES_"), qPrintable(ayuda));
        QVERIFY2(ayuda.contains("\nClave: RSA de 2048 bits\n"), qPrintable(ayuda));
        compruebaTodoCerrado();
    }

    // Each label's tooltip says what its pass learned, or where it stopped and when.
    void eachResultTooltipSaysWhatItsPassLearned() {
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        c.maximumTdsVersion = tds::v7_3B;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        pulsaYAmbasCorrectas(v);
        const QString puerto = QString::number(servidor->port());
        const QString ayudas[] = {v.resultado(0)->toolTip(), v.resultado(1)->toolTip()};
        const char* propias[][2] = {{"Protocolo: TDS 7.2", "Cifrado: solo el inicio de sesión (TLS 1.0)"},
                                    {"Protocolo: TDS 7.3", "Cifrado: solo el inicio de sesión (TLS 1.2)"}};
        for (int pasada : {0, 1})
            for (const QString& linea :
                 {QString("Servidor: STANDIN"), "Dirección: 127.0.0.1, puerto " + puerto, QString("Tiempo: "),
                  QString(propias[pasada][0]), QString(propias[pasada][1])})
                QVERIFY2(ayudas[pasada].contains(linea), qPrintable(ayudas[pasada]));

        c.encryption = Encryption::Required;
        c.fault = Fault::NeverAnswerLogin;
        lanza(c);
        VentanaPrueba lenta(freeTds(1s));
        rellenaComoSa(lenta);
        lenta.pulsaTest();
        const QString ayuda = lenta.resultado(0)->toolTip();
        QVERIFY2(ayuda.startsWith("Falló en: respuesta al inicio de sesión\nTiempo: 1,"), qPrintable(ayuda));

        // A server name that looks like HTML shows as sent, not as formatting.
        c.fault = Fault::None;
        c.serverName = "<b>SRV</b>";
        lanza(c);
        VentanaPrueba marcado(freeTds());
        rellenaComoSa(marcado);
        pulsaYAmbasCorrectas(marcado);
        QTextDocument mostrado;
        mostrado.setHtml(marcado.resultado(0)->toolTip());
        const QString texto = Qt::mightBeRichText(marcado.resultado(0)->toolTip())
                                  ? mostrado.toPlainText()
                                  : marcado.resultado(0)->toolTip();
        QVERIFY2(texto.startsWith("Servidor: <b>SRV</b>\n"), qPrintable(texto));
        QVERIFY2(marcado.resultado(0)->accessibleDescription().contains("Servidor: <b>SRV</b>\n"),
                 qPrintable(marcado.resultado(0)->accessibleDescription()));
    }

    void failingServersAreNamedWithinTheTimeout_data() {
        QTest::addColumn<int>("fallo");
        QTest::addColumn<QString>("descripcion");
        QTest::newRow("nunca responde al PRELOGIN")
            << int(Fault::NeverAnswerPrelogin) << "no completó su respuesta al saludo inicial (PRELOGIN)";
        // A byte every second would reset any per-read timer for ever.
        QTest::newRow("responde al PRELOGIN byte a byte")
            << int(Fault::TricklePrelogin) << "no completó su respuesta al saludo inicial (PRELOGIN)";
        QTest::newRow("nunca responde al LOGIN7")
            << int(Fault::NeverAnswerLogin) << "no respondió al inicio de sesión";
        QTest::newRow("cierra tras el PRELOGIN") << int(Fault::CloseAfterPrelogin) << "cerró la conexión";
        QTest::newRow("responde basura") << int(Fault::Garbage) << "127.0.0.1, puerto";
        QTest::newRow("reinicia la conexión") << int(Fault::ResetAtOnce) << "127.0.0.1, puerto";
    }
    void failingServersAreNamedWithinTheTimeout() {
        QFETCH(int, fallo);
        QFETCH(QString, descripcion);
        auto c = configuracionBase();
        c.fault = Fault(fallo);
        c.faultDelay = 1s;
        lanza(c);
        VentanaPrueba v(freeTds(2s));
        rellenaComoSa(v);
        const auto duracion = v.pulsaTest();
        ambasFallan(v, descripcion);
        // Two passes of at most the 2-second timeout each, and a little for the login processes.
        QVERIFY2(duracion < 5500ms, qPrintable(QString::number(duracion.count())));
        QVERIFY(v.mensajes.vistos.isEmpty());
        compruebaTodoCerrado();
    }

    void aDelayShorterThanTheTimeoutIsTolerated() {
        auto c = configuracionBase();
        c.fault = Fault::DelayLogin;
        c.faultDelay = 500ms;
        lanza(c);
        VentanaPrueba v(freeTds(5s));
        rellenaComoSa(v);
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void serverRequiringEncryptionGetsBothLoginsInsideTls() {
        auto c = configuracionBase();
        c.encryption = Encryption::Required;
        lanza(c);
        VentanaPrueba v(freeTds());
        rellenaComoSa(v);
        pulsaYAmbasCorrectas(v);
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QVERIFY(logins[0].encrypted && logins[1].encrypted);
        QCOMPARE(logins[1].password, kPassword);
        compruebaTodoCerrado();
    }

    void aPasswordWithSeparatorsQuotesAndNonAsciiArrivesAsTyped() {
        lanza();
        VentanaPrueba v(freeTds());
        const QString password = QString::fromUtf8("Ab;1 \"x\" 'y' ñó€😀");
        v.rellena(servidorEn(*servidor), "ana", password, " Ventas;x ");
        v.pulsaTest();
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        for (const auto& l : logins) {
            QCOMPARE(QString::fromStdString(l.password), password);
            QCOMPARE(l.database, std::string(" Ventas;x "));
        }
        compruebaTodoCerrado();

        servidor->clearLogins();
        v.caja("txtBD")->setText("");
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void aServerOfBlanksFailsWithoutAMessageBox() {
        VentanaPrueba v(freeTds());
        v.rellena("   ", "sa", "x");
        v.pulsaTest();
        ambasFallan(v, "servidor");
        QVERIFY(v.mensajes.vistos.isEmpty());
    }

    void everyServerNameFormReachesTheServer_data() {
        QTest::addColumn<QString>("direccion");
        QTest::addColumn<QString>("forma");
        QTest::newRow("host,puerto") << "127.0.0.1"
                                     << "127.0.0.1,%1";
        QTest::newRow("tcp:host,puerto") << "127.0.0.1"
                                         << "tcp:127.0.0.1,%1";
        QTest::newRow("localhost,puerto") << "127.0.0.1"
                                          << "localhost,%1";
        QTest::newRow("IPv6") << "::1"
                              << "::1,%1";
        QTest::newRow("IPv6 entre corchetes") << "::1"
                                              << "[::1],%1";
    }
    void everyServerNameFormReachesTheServer() {
        QFETCH(QString, direccion);
        QFETCH(QString, forma);
        lanza(configuracionBase(direccion.toStdString()));
        VentanaPrueba v(freeTds());
        rellenaComoSa(v, servidorEn(*servidor, forma));
        pulsaYAmbasCorrectas(v);
        QCOMPARE(int(servidor->logins().size()), 2);
        compruebaTodoCerrado();
    }

    void aNamedInstanceIsFoundThroughTheBrowser() {
        std::unique_ptr<stand_in::BrowserResponder> browser;
        std::string direccion;
        try {
            direccion = loopbackPropio([&](const std::string& d) {
                browser = std::make_unique<stand_in::BrowserResponder>(
                    d, "STANDIN", std::vector<stand_in::BrowserInstance>{});
                browser->start();
            });
        } catch (const std::runtime_error& e) {
            QSKIP(qPrintable("UDP port 1434 cannot be bound here: " + QString::fromUtf8(e.what())));
        }
        lanza(configuracionBase(direccion));
        browser->setInstances({{"SQLEXPRESS", servidor->port()}});
        const QString instancia = QString::fromStdString(direccion) + "\\";
        VentanaPrueba v(freeTds());
        rellenaComoSa(v, instancia + "sqlexpress");
        pulsaYAmbasCorrectas(v);

        rellenaComoSa(v, instancia + "OTRA");
        const auto duracion = v.pulsaTest();
        falla(v, 0, "La instancia «OTRA» no existe");
        QVERIFY2(v.textoError(1).contains("SQLEXPRESS"), qPrintable(v.textoError(1)));
        QVERIFY(duracion < 8s);
        browser->stop();
        compruebaTodoCerrado();
    }
};

PRUEBA_QT(ExtremoAExtremo)
#include "ExtremoAExtremoTest.moc"
