#include "probe/cadenaConexion.h"
#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QtTest>

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
            throw data_access::ErrorConexion(descripcion(numero));
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
            throw data_access::ErrorConexion("no");
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
            throw data_access::ErrorConexion("No se pudo cerrar la conexión.");
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

PRUEBA_QT(CmTestClick)
#include "CmTestClickTest.moc"
