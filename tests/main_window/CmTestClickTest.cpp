#include "data_access/ConexionFreeTds.h"
#include "data_access/Textos.h"
#include "login_shared/Resumen.h"
#include "probe/cadenaConexion.h"
#include "tests/stand_in/server.h"
#include "tests/support/ConexionFalsa.h"
#include "tests/support/EntradaSistema.h"
#include "tests/support/PruebasQt.h"
#include "tests/support/ServicioFalso.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {

// The string a probe opens with these values; how it is composed is CadenaConexion's business.
std::string cadena(const char* proveedor, const char* servidor, const std::string& baseDatos,
                   const char* usuario, const char* password) {
    return probe::cadenaBase(proveedor, servidor, baseDatos) + probe::sufijoCredenciales(usuario, password);
}

std::string descripcion(int numero) {
    return "fallo de la apertura " + std::to_string(numero);
}

} // namespace

class CmTestClick : public QObject {
    Q_OBJECT

private slots:
    void showsEachPassOutcomeOverThePreviousRun_data();
    void showsEachPassOutcomeOverThePreviousRun();
    void passesProbeBothProvidersWithMasterForEmptyDatabase_data();
    void passesProbeBothProvidersWithMasterForEmptyDatabase();
    void secondPassReadsTheInputsAgain();
    void firstOutcomeIsPaintedBeforeSecondProbe();
    void failingCloseEndsTheClickWithAMessageAndTheAppGoesOn();
    void buttonActivationsHeldDuringARunAreDroppedAndTypingStillArrives_data();
    void buttonActivationsHeldDuringARunAreDroppedAndTypingStillArrives();
    void aPressHeldDuringARunIsNotCompletedByItsReleaseAfterwards_data();
    void aPressHeldDuringARunIsNotCompletedByItsReleaseAfterwards();
    void typingHeldDuringARunThatEndsInAMessageReachesItsBoxFirst();
    void theTooltipNamesTheSuiteAndCertificateAndTheLayoutStays();
    void namesWhatReallyAnswersAtThePort_data();
    void namesWhatReallyAnswersAtThePort();
};

void CmTestClick::showsEachPassOutcomeOverThePreviousRun_data() {
    QTest::addColumn<bool>("bien2005");
    QTest::addColumn<bool>("bien2008");
    QTest::newRow("both connect") << true << true;
    QTest::newRow("2005 fails, 2008 connects") << false << true;
    QTest::newRow("2005 connects, 2008 fails") << true << false;
    QTest::newRow("both fail") << false << false;
}

// A first run where both passes fail, so the second must turn red labels back and replace old errors.
void CmTestClick::showsEachPassOutcomeOverThePreviousRun() {
    QFETCH(bool, bien2005);
    QFETCH(bool, bien2008);
    VentanaConFalsas prueba;
    const bool bien[] = {bien2005, bien2008};
    prueba.guion->alAbrir = [&](int numero) {
        if (numero < 2 || !bien[numero - 2])
            throw login_shared::ErrorConexion(descripcion(numero));
    };
    prueba.rellena("SRV01", "sa", "pw");
    prueba.pulsaTest();

    prueba.pulsaTest();

    for (int pasada : {0, 1}) {
        prueba.compruebaResultado(pasada, bien[pasada]);
        // Each failed pass shows its own description, never the other pass's.
        if (!bien[pasada])
            QCOMPARE(prueba.textoError(pasada), QString::fromStdString(descripcion(2 + pasada)));
    }
    QCOMPARE(prueba.mensajes.vistos.size(), 0);
    QCOMPARE(prueba.guion->vivas, 0);
    QVERIFY(prueba.control("Frame1")->isVisible()); // errors never switch the page
}

void CmTestClick::passesProbeBothProvidersWithMasterForEmptyDatabase_data() {
    QTest::addColumn<QString>("escrita");
    QTest::addColumn<QString>("enviada");
    QTest::newRow("empty") << ""
                           << "MASTER";
    QTest::newRow("blanks are not empty") << "   "
                                          << "   ";
    QTest::newRow("named") << "Ventas"
                           << "Ventas";
}

void CmTestClick::passesProbeBothProvidersWithMasterForEmptyDatabase() {
    QFETCH(QString, escrita);
    QFETCH(QString, enviada);
    VentanaConFalsas prueba;
    prueba.rellena("SRV01", "", "", escrita);

    prueba.pulsaTest();

    const std::vector<std::string> esperadas = {cadena("SQLNCLI", "SRV01", enviada.toStdString(), "", ""),
                                                cadena("SQLNCLI10", "SRV01", enviada.toStdString(), "", "")};
    QCOMPARE(prueba.guion->cadenasAbiertas, esperadas);
    QCOMPARE(prueba.caja("txtBD")->text(), escrita);
}

void CmTestClick::secondPassReadsTheInputsAgain() {
    VentanaConFalsas prueba;
    prueba.rellena("SRV01", "sa", "uno", "");
    prueba.guion->alAbrir = [&](int numero) {
        if (numero == 0)
            prueba.rellena("SRV02", "", "dos", "Otra");
    };

    prueba.pulsaTest();

    const std::vector<std::string> esperadas = {cadena("SQLNCLI", "SRV01", "MASTER", "sa", "uno"),
                                                cadena("SQLNCLI10", "SRV02", "Otra", "", "dos")};
    QCOMPARE(prueba.guion->cadenasAbiertas, esperadas);
}

void CmTestClick::firstOutcomeIsPaintedBeforeSecondProbe() {
    VentanaConFalsas prueba;
    ContadorPintado pintado;
    QLabel* lbl2005 = prueba.etiqueta("lbl2005");
    lbl2005->installEventFilter(&pintado);
    QString textoDurantePasada2;
    int pintadoDurantePasada2 = 0;
    prueba.guion->alAbrir = [&](int numero) {
        if (numero == 0) {
            pintado.veces = 0;
            throw login_shared::ErrorConexion("no");
        }
        textoDurantePasada2 = lbl2005->text();
        pintadoDurantePasada2 = pintado.veces;
    };
    prueba.rellena("SRV01");

    prueba.pulsaTest();

    QCOMPARE(textoDurantePasada2, kIncorrecta);
    QVERIFY(pintadoDurantePasada2 >= 1);
}

void CmTestClick::failingCloseEndsTheClickWithAMessageAndTheAppGoesOn() {
    VentanaConFalsas prueba;
    bool cierreFalla = true;
    prueba.guion->alCerrar = [&] {
        if (cierreFalla)
            throw login_shared::ErrorConexion("No se pudo cerrar la conexión.");
    };
    prueba.rellena("SRV01");

    prueba.pulsaTest();

    QCOMPARE(prueba.mensajes.vistos.size(), 1);
    compruebaMensajeCritico(prueba.mensajes.vistos.first(), "No se pudo cerrar la conexión.");
    QCOMPARE(prueba.guion->cadenasAbiertas.size(), std::size_t(1)); // pass 2 never ran
    QCOMPARE(prueba.etiqueta("lbl2008")->text(), QString());
    QCOMPARE(prueba.guion->vivas, 1); // the slot kept its object

    // The window still works; the kept object is reused by the next probe.
    cierreFalla = false;
    prueba.pulsaTest();
    QCOMPARE(prueba.guion->creadas, 2);
    QCOMPARE(prueba.guion->vivas, 0);
    QCOMPARE(prueba.etiqueta("lbl2008")->text(), kCorrecta);
    QVERIFY(prueba.ventana->isVisible());
}

void CmTestClick::buttonActivationsHeldDuringARunAreDroppedAndTypingStillArrives_data() {
    QTest::addColumn<bool>("conRaton");
    QTest::newRow("ten mouse clicks") << true;
    QTest::newRow("ten spaces on the focused button") << false;
}

// Against a slow server with a wrong password, every click the user makes
// while waiting would otherwise be one more run, two more failed logins.
void CmTestClick::buttonActivationsHeldDuringARunAreDroppedAndTypingStillArrives() {
    QFETCH(bool, conRaton);
    VentanaConFalsas prueba;
    const auto compuerta = prueba.guion->compuerta = std::make_shared<CompuertaApertura>();
    prueba.guion->alAbrir = [](int) { throw login_shared::ErrorConexion("Login failed for user 'sa'."); };
    prueba.rellena("SRV01", "sa", "mal");
    auto* cmTest = prueba.control<QPushButton>("cmTest");
    QLineEdit* txtBD = prueba.caja("txtBD");
    QWindow* ventana = prueba.ventana->windowHandle();

    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            cmTest->setFocus();
            for (int i = 0; i < 10; ++i) {
                if (conRaton)
                    clicDelSistema(cmTest);
                else
                    teclaDelSistema(ventana, Qt::Key_Space, " ");
            }
            // Last of all the user types a database name, held like the rest.
            clicDelSistema(txtBD);
            teclaDelSistema(ventana, Qt::Key_V, "V");
            compuerta->suelta();
            return true;
        },
    });

    prueba.pulsaTest();

    QCOMPARE(pasos.hechos, pasos.total());
    // Held input comes in order: with the last key in, every activation before it has been handled.
    QTRY_COMPARE(txtBD->text(), QString("V"));
    QCOMPARE(prueba.guion->cadenasAbiertas.size(), std::size_t(2)); // one run, one open per generation
    QCOMPARE(prueba.guion->creadas, 2);
    prueba.compruebaResultado(0, false);
    prueba.compruebaResultado(1, false);

    // The button still works for a click made after the run.
    prueba.pulsaTest();
    QCOMPARE(prueba.guion->cadenasAbiertas.size(), std::size_t(4));
}

void CmTestClick::aPressHeldDuringARunIsNotCompletedByItsReleaseAfterwards_data() {
    QTest::addColumn<QString>("entrada");
    QTest::newRow("mouse press") << "press";
    QTest::newRow("double click") << "double";
    QTest::newRow("space") << "space";
    QTest::newRow("select key") << "select";
}

// The button is pressed while the run waits and let go once it is over: no
// click, since the press was made during the run.
void CmTestClick::aPressHeldDuringARunIsNotCompletedByItsReleaseAfterwards() {
    QFETCH(QString, entrada);
    VentanaConFalsas prueba;
    const auto compuerta = prueba.guion->compuerta = std::make_shared<CompuertaApertura>();
    prueba.rellena("SRV01");
    auto* cmTest = prueba.control<QPushButton>("cmTest");
    QWindow* ventana = prueba.ventana->windowHandle();
    const bool conTecla = entrada == "space" || entrada == "select";
    const Qt::Key tecla = entrada == "space" ? Qt::Key_Space : Qt::Key_Select;
    const QString texto = entrada == "space" ? QString(" ") : QString();

    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            if (conTecla) {
                cmTest->setFocus();
                teclaDelSistema(ventana, QEvent::KeyPress, tecla, texto);
            } else {
                // The second press of a double click comes as a press and a double click.
                if (entrada == "double")
                    clicDelSistema(cmTest);
                botonDelSistema(cmTest, QEvent::MouseButtonPress);
            }
            compuerta->suelta();
            return true;
        },
    });
    prueba.pulsaTest();
    QCOMPARE(pasos.hechos, pasos.total());

    if (conTecla)
        teclaDelSistema(ventana, QEvent::KeyRelease, tecla, texto);
    else
        botonDelSistema(cmTest, QEvent::MouseButtonRelease);
    QLineEdit* txtBD = prueba.caja("txtBD");
    clicDelSistema(txtBD);
    teclaDelSistema(ventana, Qt::Key_V, "V");
    // With the key typed after it in, the release has been handled.
    QTRY_COMPARE(txtBD->text(), QString("V"));
    QVERIFY(!cmTest->isDown());
    QCOMPARE(prueba.guion->cadenasAbiertas.size(), std::size_t(2));
}

// Otherwise the message box would take the keys, or the window system would
// drop them as input to a window the box blocks.
void CmTestClick::typingHeldDuringARunThatEndsInAMessageReachesItsBoxFirst() {
    VentanaConFalsas prueba;
    const auto compuerta = prueba.guion->compuerta = std::make_shared<CompuertaApertura>();
    prueba.guion->alCerrar = [] { throw login_shared::ErrorConexion("No se pudo cerrar la conexión."); };
    prueba.rellena("SRV01");
    QLineEdit* txtBD = prueba.caja("txtBD");
    QString bdConMensaje;
    prueba.mensajes.mientrasSeMuestra = [&] { bdConMensaje = txtBD->text(); };

    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            txtBD->setFocus();
            teclaDelSistema(prueba.ventana->windowHandle(), Qt::Key_V, "V");
            compuerta->suelta();
            return true;
        },
    });
    prueba.pulsaTest();

    QCOMPARE(pasos.hechos, pasos.total());
    QCOMPARE(prueba.mensajes.vistos.size(), 1);
    compruebaMensajeCritico(prueba.mensajes.vistos.first(), "No se pudo cerrar la conexión.");
    QCOMPARE(bdConMensaje, QString("V"));
}

// An encrypted login's tooltip grows by its suite and certificate lines, as sent; the labels stay put.
void CmTestClick::theTooltipNamesTheSuiteAndCertificateAndTheLayoutStays() {
    VentanaConFalsas prueba;
    prueba.rellena("SRV01", "sa", "pw");
    prueba.pulsaTest();
    const QRect antes[] = {prueba.resultado(0)->geometry(), prueba.resultado(1)->geometry()};

    login_shared::ResumenLogin r;
    r.versionTds = "7.2";
    r.servidor = "SRV01";
    r.direccion = "10.0.0.5";
    r.puerto = 1433;
    r.loginCifrado = true;
    r.versionTls = 0x0301;
    r.suiteTls = 0x000A;
    r.certificadoSujeto = r.certificadoEmisor = "CN=SSL_Self_Signed_Fallback";
    r.certificadoCaduca = 1798761600; // 2027-01-01 UTC
    r.certificadoClave = "RSA";
    r.certificadoBits = 1024;
    prueba.guion->resumen = data_access::textos::resumenApertura(r, std::chrono::milliseconds(150));
    prueba.pulsaTest();
    for (int pasada : {0, 1}) {
        prueba.compruebaResultado(pasada, true);
        const QString ayuda = prueba.resultado(pasada)->toolTip();
        QVERIFY2(ayuda.contains(
                     "\nCifrado: solo el inicio de sesión (TLS 1.0)\nSuite: "
                     "TLS_RSA_WITH_3DES_EDE_CBC_SHA\nCertificado: CN=SSL_Self_Signed_Fallback (generado "
                     "por SQL Server: no se configuró ninguno)\nEmisor: autofirmado\nCaduca: "
                     "2027-01-01\nClave: RSA de 1024 bits\nTiempo: 150 ms"),
                 qPrintable(ayuda));
        QCOMPARE(prueba.resultado(pasada)->geometry(), antes[pasada]);
        QCOMPARE(prueba.resultado(pasada)->text(), QStringLiteral("Conexión CORRECTA."));
    }
}

namespace {

// What listens on the port for one case of namesWhatReallyAnswersAtThePort.
enum class OtroExtremo { Estricto, Ssh, Http, SoloTls, CierraSinSerEstricto, SondaQueNoResponde };

struct ServidorDePrueba {
    std::unique_ptr<stand_in::Server> standIn;
    std::unique_ptr<ServicioFalso> servicio;
    std::uint16_t puerto() const { return standIn ? standIn->port() : servicio->puerto(); }
};

ServidorDePrueba lanzaOtroExtremo(OtroExtremo caso) {
    ServidorDePrueba s;
    switch (caso) {
    case OtroExtremo::Estricto: {
        stand_in::Config c;
        c.logins = {{"sa", "Secr3t!"}};
        c.encryption = stand_in::Encryption::Strict;
        s.standIn = std::make_unique<stand_in::Server>(c);
        s.standIn->start();
        break;
    }
    case OtroExtremo::Ssh:
        s.servicio = std::make_unique<ServicioFalso>(ServicioFalso::banner("SSH-2.0-OpenSSH_9.2p1\r\n"));
        break;
    case OtroExtremo::Http:
        s.servicio = std::make_unique<ServicioFalso>(
            ServicioFalso::respondeYCierra("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n"));
        break;
    case OtroExtremo::SoloTls:
        s.servicio = std::make_unique<ServicioFalso>(ServicioFalso::soloTls(false));
        break;
    case OtroExtremo::CierraSinSerEstricto:
        s.servicio = std::make_unique<ServicioFalso>(ServicioFalso::cierraAlLeer());
        break;
    case OtroExtremo::SondaQueNoResponde:
        s.servicio = std::make_unique<ServicioFalso>(ServicioFalso::cierraYCallaAnteTls());
        break;
    }
    return s;
}

const QString kNingunClienteEstricto = " Ni el cliente de SQL Server 2005 ni el de SQL Server 2008 admiten "
                                       "el cifrado estricto: no pueden iniciar "
                                       "sesión en este servidor mientras lo exija.";

} // namespace

void CmTestClick::namesWhatReallyAnswersAtThePort_data() {
    QTest::addColumn<int>("caso");
    // %1 is the server's address and port as the descriptions name it.
    QTest::addColumn<QString>("error2005");
    QTest::addColumn<QString>("error2008");
    const QString ajeno =
        "Lo que responde en %1 no es un SQL Server: su respuesta empieza por «%2». Compruebe el "
        "nombre del servidor y el puerto.";
    const QString soloTls =
        "Lo que responde en %1 no es un SQL Server: es un servicio que habla TLS desde el primer "
        "byte (un puerto HTTPS, por ejemplo) y no responde al saludo inicial (PRELOGIN) de SQL "
        "Server. Compruebe el nombre del servidor y el puerto.";
    const QString cerro = "El servidor %1 cerró la conexión durante el saludo inicial (PRELOGIN).";
    const QString estricto = "El servidor %1 exige cifrado estricto (TDS 8.0, «Force Strict Encryption»): "
                             "espera la negociación TLS antes del saludo inicial (PRELOGIN) y cierra la "
                             "conexión si lo recibe sin cifrar." +
                             kNingunClienteEstricto;
    QTest::newRow("strict encryption") << int(OtroExtremo::Estricto) << estricto << estricto;
    QTest::newRow("ssh banner") << int(OtroExtremo::Ssh) << ajeno.arg("%1", "SSH-2.0-OpenSSH_9.2p1")
                                << ajeno.arg("%1", "SSH-2.0-OpenSSH_9.2p1");
    QTest::newRow("http 400") << int(OtroExtremo::Http) << ajeno.arg("%1", "HTTP/1.1 400 Bad Request")
                              << ajeno.arg("%1", "HTTP/1.1 400 Bad Request");
    QTest::newRow("tls only") << int(OtroExtremo::SoloTls) << soloTls << soloTls;
    QTest::newRow("closes on PRELOGIN, not strict")
        << int(OtroExtremo::CierraSinSerEstricto) << cerro << cerro;
    QTest::newRow("strict probe never answered") << int(OtroExtremo::SondaQueNoResponde) << cerro << cerro;
}

// The window's own connection objects through FreeTDS: both labels red, and
// each Errores page names what answers at the port, never a wrong stage.
void CmTestClick::namesWhatReallyAnswersAtThePort() {
    QFETCH(int, caso);
    QFETCH(QString, error2005);
    QFETCH(QString, error2008);
    const ServidorDePrueba servidor = lanzaOtroExtremo(OtroExtremo(caso));
    VentanaPrueba v([] { return data_access::nuevaConexion(2s); });
    v.rellena(QStringLiteral("127.0.0.1,%1").arg(servidor.puerto()), "sa", "Secr3t!");

    const auto duracion = v.pulsaTest();

    const QString destino = QStringLiteral("127.0.0.1, puerto %1").arg(servidor.puerto());
    v.compruebaResultado(0, false);
    v.compruebaResultado(1, false);
    QCOMPARE(v.textoError(0), error2005.arg(destino));
    QCOMPARE(v.textoError(1), error2008.arg(destino));
    QVERIFY(v.mensajes.vistos.isEmpty());
    // Two opens of at most 2 s each, even with a probe that is never answered; a margin for a loaded machine.
    QVERIFY2(duracion < 6s, qPrintable(QString::number(duracion.count())));
}

PRUEBA_QT(CmTestClick)
#include "CmTestClickTest.moc"
