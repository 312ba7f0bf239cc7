// A click on "Test Conexión" in the real window, through FreeTDS, against the
// loopback SQL Server stand-in: what the user sees and what crossed the wire.
#include "tests/end_to_end/VentanaBajoPrueba.h"
#include "tests/support/EntornoTemporal.h"

#include "tests/stand_in/browser_responder.h"
#include "tests/stand_in/server.h"
#include "tests/support/kerberos/test_kdc.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QtGlobal>
#include <unistd.h>

using namespace std::chrono_literals;
using stand_in::Encryption;
using stand_in::Fault;
namespace tds = stand_in::tds_version;

namespace {

const QString kCorrecta = QStringLiteral("Conexión CORRECTA.");
const QString kIncorrecta = QStringLiteral("Conexión INCORRECTA.");
const QColor kRojo(255, 0, 0);
const std::string kPassword = "Secr3t!";

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

} // namespace

class ExtremoAExtremo : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<stand_in::Server> servidor;

    void arranca(stand_in::Config c = configuracionBase()) {
        servidor = std::make_unique<stand_in::Server>(std::move(c));
        servidor->start();
    }

    void rellena(VentanaBajoPrueba& v, const QString& server, const QString& usuario, const QString& password,
                 const QString& bd = {}) {
        v.escribe("txtServer", server);
        v.escribe("txtUsuario", usuario);
        v.escribe("txtPwd", password);
        v.escribe("txtBD", bd);
    }

    void rellenaComoSa(VentanaBajoPrueba& v, const QString& server) {
        rellena(v, server, "sa", QString::fromStdString(kPassword));
    }

    void pulsaYAmbasCorrectas(VentanaBajoPrueba& v) {
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", true);
        compruebaPasada(v, "lbl2008", "txtErr2008", true);
    }

    // Every connection the stand-in accepted ends closed: nothing outlives a click.
    void compruebaTodoCerrado() {
        QVERIFY(servidor->waitAllClosed(5s));
        QCOMPARE(servidor->connectionsClosed(), servidor->connectionsAccepted());
    }

    void compruebaPasada(const VentanaBajoPrueba& v, const char* etiqueta, const char* errores, bool correcta,
                         const QString& parteDelError = {}) {
        QVERIFY2(v.texto(etiqueta) == (correcta ? kCorrecta : kIncorrecta), qPrintable(v.texto(errores)));
        QCOMPARE(v.color(etiqueta), correcta ? v.resaltado() : kRojo);
        if (correcta)
            QCOMPARE(v.texto(errores), QString());
        else {
            QVERIFY2(v.texto(errores).contains(parteDelError), qPrintable(v.texto(errores)));
            QVERIFY2(!v.texto(errores).contains("Adaptive"), qPrintable(v.texto(errores)));
        }
    }

private slots:
    void cleanup() {
        if (servidor)
            servidor->stop();
        servidor.reset();
    }

    void ambasGeneracionesConectanConLosDatosTecleados() {
        arranca();
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        pulsaYAmbasCorrectas(v);

        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QCOMPARE(logins[0].tdsVersion, tds::v7_2);
        QCOMPARE(logins[1].tdsVersion, tds::v7_3B);
        for (const auto& l : logins) {
            QCOMPARE(l.user, std::string("sa"));
            QCOMPARE(l.password, kPassword);
            QCOMPARE(l.database, std::string("MASTER"));
            QCOMPARE(l.applicationName, std::string("Tarpelino"));
            QVERIFY(!l.integrated);
        }
        compruebaTodoCerrado();

        servidor->clearLogins();
        v.escribe("txtBD", "ventas");
        v.pulsaTest();
        compruebaPasada(v, "lbl2008", "txtErr2008", true);
        QCOMPARE(servidor->logins().at(0).database, std::string("ventas"));
        compruebaTodoCerrado();
    }

    void laVersionPedidaNoDependeDelEntornoNiDeFreetdsConf() {
        const QString conf = QDir::temp().filePath(QStringLiteral("tarpelino-e2e-%1.conf").arg(::getpid()));
        {
            QFile f(conf);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[global]\n\ttds version = 7.1\n\tencryption = off\n\tport = 1\n");
        }
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        arranca(c);
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        {
            EntornoTemporal entorno;
            entorno.fija("FREETDSCONF", conf.toStdString()).fija("TDSVER", "7.4").fija("TDSPORT", "1");
            v.pulsaTest();
        }
        QFile::remove(conf);

        compruebaPasada(v, "lbl2005", "txtErr2005", true);
        compruebaPasada(v, "lbl2008", "txtErr2008", true);
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QCOMPARE(logins[0].tdsVersion, tds::v7_2);
        QCOMPARE(logins[1].tdsVersion, tds::v7_3B);
        // The server offers encryption: the password never crossed in clear.
        QVERIFY(logins[0].encrypted && logins[1].encrypted);
        compruebaTodoCerrado();
    }

    void soloLaGeneracion2008AceptadaYLuegoAmbas() {
        auto c = configuracionBase();
        c.minimumTdsVersion = tds::v7_3A;
        arranca(c);
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "cerró la conexión durante el inicio de sesión");
        compruebaPasada(v, "lbl2008", "txtErr2008", true);
        QVERIFY2(v.texto("txtErr2005").contains(QStringLiteral("127.0.0.1, puerto %1").arg(servidor->port())),
                 qPrintable(v.texto("txtErr2005")));
        compruebaTodoCerrado();

        c.minimumTdsVersion = tds::v7_0;
        servidor->setConfig(c);
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void elServidorRechazaElInicioDeSesion_data() {
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
    void elServidorRechazaElInicioDeSesion() {
        QFETCH(QString, usuario);
        QFETCH(QString, password);
        QFETCH(QString, bd);
        QFETCH(QStringList, mensajes);
        arranca();
        VentanaBajoPrueba v;
        rellena(v, servidorEn(*servidor), usuario, password, bd);
        v.pulsaTest();
        for (const char* errores : {"txtErr2005", "txtErr2008"})
            for (const QString& m : mensajes)
                QVERIFY2(v.texto(errores).contains(m), qPrintable(v.texto(errores)));
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "rechazó el inicio de sesión");
        compruebaPasada(v, "lbl2008", "txtErr2008", false, "rechazó el inicio de sesión");
        // A login of blanks is still a SQL login, sent as typed.
        QCOMPARE(servidor->logins().at(0).user, usuario.toStdString());
        QVERIFY(!servidor->logins().at(0).integrated);
        compruebaTodoCerrado();
    }

    void seguridadIntegradaSinTicketDiceKinit() {
        arranca();
        VentanaBajoPrueba v;
        rellena(v, servidorEn(*servidor), "", "no se usa");
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "kinit");
        compruebaPasada(v, "lbl2008", "txtErr2008", false, "Kerberos");
        QCOMPARE(int(servidor->logins().size()), 0);
        compruebaTodoCerrado();
    }

    void seguridadIntegradaConTicketEntraComoSuPrincipal() {
        kerberos_testing::TestKdc kdc;
        auto c = configuracionBase();
        c.keytab = kdc.keytab();
        arranca(c);
        kdc.addServicePrincipal(kerberos_testing::TestKdc::sqlServerPrincipal("127.0.0.1", servidor->port()));
        kerberos_testing::KerberosEnvironment entorno(kdc);
        VentanaBajoPrueba v;
        rellena(v, servidorEn(*servidor), "", "no se usa");
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
        compruebaPasada(v, "lbl2005", "txtErr2005", false,
                        "el KDC no conoce el servicio MSSQLSvc/127.0.0.1:");
        compruebaPasada(v, "lbl2008", "txtErr2008", false,
                        "el KDC no conoce el servicio MSSQLSvc/127.0.0.1:");
        QCOMPARE(int(servidor->logins().size()), 2);
    }

    // Each way Kerberos fails in real networks, named in both passes within the timeout.
    void kerberosQueFalla_data() {
        QTest::addColumn<QString>("caso");
        QTest::addColumn<QString>("descripcion");
        QTest::newRow("ticket caducado") << "caducado"
                                         << "(el ticket ha caducado). Obtenga uno con kinit";
        QTest::newRow("otro dominio") << "otro dominio"
                                      << "su ticket es de ana@OTRO.TEST";
        QTest::newRow("KDC inalcanzable") << "KDC caído"
                                          << "no se puede contactar con ningún KDC";
    }
    void kerberosQueFalla() {
        QFETCH(QString, caso);
        QFETCH(QString, descripcion);
        kerberos_testing::TestKdc kdc;
        kerberos_testing::TestKdc otro("OTRO.TEST");
        auto c = configuracionBase();
        c.keytab = kdc.keytab();
        arranca(c);
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
        VentanaBajoPrueba v(3s);
        rellena(v, servidorEn(*servidor), "", "no se usa");
        const auto duracion = v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, descripcion);
        compruebaPasada(v, "lbl2008", "txtErr2008", false, descripcion);
        QVERIFY2(duracion < 7s, qPrintable(QString::number(duracion.count())));
        QCOMPARE(int(servidor->logins().size()), 0);
    }

    void unaCuentaDeWindowsEntraPorNtlm() {
        arranca();
        VentanaBajoPrueba v;
        rellena(v, servidorEn(*servidor), QStringLiteral("CORP\\alice"), "x");
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "Msg 18452, nivel 14, estado 1");
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        // NTLM: the account travels in the SSPI blob, not as a SQL login.
        QVERIFY(logins[0].integrated && logins[0].user.empty() && logins[0].password.empty());
        compruebaTodoCerrado();
    }

    void unAliasQueExigeCifradoContraUnServidorSinCifrado() {
        arranca();
        const QString conf =
            QDir::temp().filePath(QStringLiteral("tarpelino-e2e-alias-%1.conf").arg(::getpid()));
        {
            QFile f(conf);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QStringLiteral("[Cifrado]\n\thost = 127.0.0.1\n\tport = %1\n\tencryption = require\n")
                        .arg(servidor->port())
                        .toUtf8());
        }
        VentanaBajoPrueba v;
        rellenaComoSa(v, "Cifrado");
        {
            EntornoTemporal entorno;
            entorno.fija("FREETDSCONF", conf.toStdString());
            v.pulsaTest();
        }
        QFile::remove(conf);
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "no se pudo negociar el cifrado");
        QCOMPARE(int(servidor->logins().size()), 0);
        compruebaTodoCerrado();
    }

    // Each of these once showed "Conexión CORRECTA." for another password or another server.
    void valoresQueNoSeEnvian_data() {
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
    void valoresQueNoSeEnvian() {
        QFETCH(QString, nombre);
        QFETCH(QString, password);
        QFETCH(QString, descripcion);
        arranca();
        VentanaBajoPrueba v;
        rellena(v, nombre.isEmpty() ? servidorEn(*servidor) : servidorEn(*servidor, nombre), "sa", password);
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, descripcion);
        compruebaPasada(v, "lbl2008", "txtErr2008", false, descripcion);
        QCOMPARE(servidor->connectionsAccepted(), 0);
    }

    // The 2005 client never offered more than TLS 1.0; a server that takes TLS 1.2 only refuses it.
    void cadaGeneracionOfreceSusVersionesDeTls() {
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        c.tlsMinimum = stand_in::TlsVersion::Tls1_2;
        arranca(c);
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        v.pulsaTest();
        compruebaPasada(
            v, "lbl2005", "txtErr2005", false,
            "no acepta ninguna versión de TLS que ofrezca este cliente: el cliente de SQL Server 2005 "
            "ofrece solo TLS 1.0");
        compruebaPasada(v, "lbl2008", "txtErr2008", true);
        auto saludos = servidor->tlsHandshakes();
        QCOMPARE(int(saludos.size()), 2);
        QCOMPARE(int(saludos[0].clientHelloVersion), 0x0301);
        QCOMPARE(int(saludos[0].negotiated), 0);
        QCOMPARE(int(saludos[1].negotiated), 0x0303);
        compruebaTodoCerrado();

        // An old server, TLS 1.0 only: both generations get in.
        c.tlsMinimum = c.tlsMaximum = stand_in::TlsVersion::Tls1_0;
        arranca(c);
        rellenaComoSa(v, servidorEn(*servidor));
        pulsaYAmbasCorrectas(v);
        saludos = servidor->tlsHandshakes();
        QCOMPARE(int(saludos.size()), 2);
        QCOMPARE(int(saludos[0].negotiated), 0x0301);
        QCOMPARE(int(saludos[1].negotiated), 0x0301);
        QCOMPARE(int(saludos[1].clientHelloVersion), 0x0303);
    }

    // Each label's tooltip says what its pass learned, or where it stopped and when.
    void laAyudaDeCadaResultadoDiceLoQueSeSupo() {
        auto c = configuracionBase();
        c.encryption = Encryption::LoginOnly;
        c.maximumTdsVersion = tds::v7_3B;
        arranca(c);
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        pulsaYAmbasCorrectas(v);
        const QString puerto = QString::number(servidor->port());
        for (const char* etiqueta : {"lbl2005", "lbl2008"}) {
            const QString ayuda = v.ayuda(etiqueta);
            QVERIFY2(ayuda.contains("Servidor: STANDIN"), qPrintable(ayuda));
            QVERIFY2(ayuda.contains("Dirección: 127.0.0.1, puerto " + puerto), qPrintable(ayuda));
            QVERIFY2(ayuda.contains("Tiempo: "), qPrintable(ayuda));
        }
        QVERIFY2(v.ayuda("lbl2005").contains("Protocolo: TDS 7.2"), qPrintable(v.ayuda("lbl2005")));
        QVERIFY2(v.ayuda("lbl2008").contains("Protocolo: TDS 7.3"), qPrintable(v.ayuda("lbl2008")));
        QVERIFY2(v.ayuda("lbl2005").contains("Cifrado: solo el inicio de sesión (TLS 1.0)"),
                 qPrintable(v.ayuda("lbl2005")));
        QVERIFY2(v.ayuda("lbl2008").contains("Cifrado: solo el inicio de sesión (TLS 1.2)"),
                 qPrintable(v.ayuda("lbl2008")));

        c.encryption = Encryption::Required;
        c.fault = Fault::NeverAnswerLogin;
        arranca(c);
        VentanaBajoPrueba lenta(1s);
        rellenaComoSa(lenta, servidorEn(*servidor));
        lenta.pulsaTest();
        QVERIFY2(lenta.ayuda("lbl2005").startsWith("Falló en: respuesta al inicio de sesión\nTiempo: 1,"),
                 qPrintable(lenta.ayuda("lbl2005")));
    }

    void servidoresQueFallan_data() {
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
    void servidoresQueFallan() {
        QFETCH(int, fallo);
        QFETCH(QString, descripcion);
        auto c = configuracionBase();
        c.fault = Fault(fallo);
        c.faultDelay = 1s;
        arranca(c);
        VentanaBajoPrueba v(2s);
        rellenaComoSa(v, servidorEn(*servidor));
        const auto duracion = v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, descripcion);
        compruebaPasada(v, "lbl2008", "txtErr2008", false, descripcion);
        // Two passes of at most the 2-second timeout each, and a little for the login processes.
        QVERIFY2(duracion < 5500ms, qPrintable(QString::number(duracion.count())));
        QVERIFY(v.cajasMostradas().isEmpty());
        compruebaTodoCerrado();
    }

    void unRetrasoMenorQueElTiempoDeEsperaSeTolera() {
        auto c = configuracionBase();
        c.fault = Fault::DelayLogin;
        c.faultDelay = 500ms;
        arranca(c);
        VentanaBajoPrueba v(5s);
        rellenaComoSa(v, servidorEn(*servidor));
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void cifradoExigidoPorElServidor() {
        auto c = configuracionBase();
        c.encryption = Encryption::Required;
        arranca(c);
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor));
        pulsaYAmbasCorrectas(v);
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        QVERIFY(logins[0].encrypted && logins[1].encrypted);
        QCOMPARE(logins[1].password, kPassword);
        compruebaTodoCerrado();
    }

    void unaPasswordConSeparadoresComillasYNoAsciiLlegaTalCual() {
        arranca();
        VentanaBajoPrueba v;
        const QString password = QString::fromUtf8("Ab;1 \"x\" 'y' ñó€😀");
        rellena(v, servidorEn(*servidor), "ana", password, " Ventas;x ");
        v.pulsaTest();
        const auto logins = servidor->logins();
        QCOMPARE(int(logins.size()), 2);
        for (const auto& l : logins) {
            QCOMPARE(QString::fromStdString(l.password), password);
            QCOMPARE(l.database, std::string(" Ventas;x "));
        }
        compruebaTodoCerrado();

        servidor->clearLogins();
        v.escribe("txtBD", "");
        pulsaYAmbasCorrectas(v);
        compruebaTodoCerrado();
    }

    void unServidorDeBlancosFallaSinCaja() {
        VentanaBajoPrueba v;
        rellena(v, "   ", "sa", "x");
        v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "servidor");
        compruebaPasada(v, "lbl2008", "txtErr2008", false, "servidor");
        QVERIFY(v.cajasMostradas().isEmpty());
    }

    void formasDelNombreDeServidor_data() {
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
    void formasDelNombreDeServidor() {
        QFETCH(QString, direccion);
        QFETCH(QString, forma);
        arranca(configuracionBase(direccion.toStdString()));
        VentanaBajoPrueba v;
        rellenaComoSa(v, servidorEn(*servidor, forma));
        pulsaYAmbasCorrectas(v);
        QCOMPARE(int(servidor->logins().size()), 2);
        compruebaTodoCerrado();
    }

    void instanciaConNombrePorElBrowser() {
        if (::geteuid() != 0)
            QSKIP("the SQL Server Browser port (UDP 1434) needs root");
        auto c = configuracionBase("127.0.0.1");
        arranca(c);
        stand_in::BrowserResponder browser("127.0.0.1", "STANDIN", {{"SQLEXPRESS", servidor->port()}});
        browser.start();
        VentanaBajoPrueba v;
        rellenaComoSa(v, "127.0.0.1\\sqlexpress");
        pulsaYAmbasCorrectas(v);

        rellenaComoSa(v, "127.0.0.1\\OTRA");
        const auto duracion = v.pulsaTest();
        compruebaPasada(v, "lbl2005", "txtErr2005", false, "La instancia «OTRA» no existe");
        QVERIFY2(v.texto("txtErr2008").contains("SQLEXPRESS"), qPrintable(v.texto("txtErr2008")));
        QVERIFY(duracion < 8s);
        browser.stop();
        compruebaTodoCerrado();
    }
};

QTEST_MAIN(ExtremoAExtremo)
#include "ExtremoAExtremoTest.moc"
