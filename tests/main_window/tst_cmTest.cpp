#include "data_access/ConnectionString.h"
#include "tests/probe/dobles/VentanaPrueba.h"

#include <QtTest>
#include <algorithm>

namespace {

const QString kCorrecta = QStringLiteral("Conexión CORRECTA.");
const QString kIncorrecta = QStringLiteral("Conexión INCORRECTA.");

std::string valorDe(const std::string& cadena, const char* clave) {
    return data_access::ConnectionString::parse(cadena).value(clave).value_or("<missing>");
}

std::string descripcion(int numero) {
    return "fallo de la apertura " + std::to_string(numero);
}

// Counts the paint events a widget receives.
class ContadorPintado : public QObject {
public:
    int veces = 0;
    bool eventFilter(QObject*, QEvent* evento) override {
        if (evento->type() == QEvent::Paint)
            ++veces;
        return false;
    }
};

} // namespace

class TestCmTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void showsEachPassOutcome_data();
    void showsEachPassOutcome();
    void correctedInputsTurnLabelsBackAndClearErrors();
    void passesProbeBothProvidersWithMasterForEmptyDatabase_data();
    void passesProbeBothProvidersWithMasterForEmptyDatabase();
    void secondPassReadsTheInputsAgain();
    void firstOutcomeIsPaintedBeforeSecondProbe();
    void everyPassWorksOnANewObjectClosedBeforeRelease();
    void failingCloseEndsTheClickWithAMessageAndTheAppGoesOn();
};

void TestCmTest::showsEachPassOutcome_data() {
    QTest::addColumn<bool>("bien2005");
    QTest::addColumn<bool>("bien2008");
    QTest::newRow("both connect") << true << true;
    QTest::newRow("2005 fails, 2008 connects") << false << true;
    QTest::newRow("2005 connects, 2008 fails") << true << false;
    QTest::newRow("both fail") << false << false;
}

void TestCmTest::showsEachPassOutcome() {
    QFETCH(bool, bien2005);
    QFETCH(bool, bien2008);
    VentanaPrueba prueba;
    const bool bien[] = {bien2005, bien2008};
    prueba.guion->alAbrir = [&](int numero) {
        if (!bien[numero])
            throw data_access::ErrorConexion(descripcion(numero));
    };
    prueba.rellena("SRV01", "sa", "pw");
    prueba.errores("txtErr2005")->setPlainText("de antes");
    prueba.errores("txtErr2008")->setPlainText("de antes");

    prueba.pulsaTest();

    const char* etiquetas[] = {"lbl2005", "lbl2008"};
    const char* errores[] = {"txtErr2005", "txtErr2008"};
    for (int pasada = 0; pasada < 2; ++pasada) {
        QLabel* etiqueta = prueba.etiqueta(etiquetas[pasada]);
        QCOMPARE(etiqueta->text(), bien[pasada] ? kCorrecta : kIncorrecta);
        QCOMPARE(colorTexto(etiqueta), bien[pasada] ? colorResaltado(etiqueta) : QColor(255, 0, 0));
        // Each failed pass shows its own description, never the other pass's.
        QCOMPARE(prueba.errores(errores[pasada])->toPlainText(),
                 bien[pasada] ? QString() : QString::fromStdString(descripcion(pasada)));
    }
    QCOMPARE(prueba.mensajes.vistos.size(), 0);
    QCOMPARE(prueba.guion->vivas, 0);
    QVERIFY(prueba.control("Frame1")->isVisible()); // errors never switch the page
}

void TestCmTest::correctedInputsTurnLabelsBackAndClearErrors() {
    VentanaPrueba prueba;
    prueba.guion->alAbrir = [&](int) {
        if (prueba.caja("txtPwd")->text() != "buena")
            throw data_access::ErrorConexion("Error de inicio de sesión del usuario 'sa'.");
    };
    prueba.rellena("SRV01", "sa", "mala");
    prueba.pulsaTest();
    QCOMPARE(prueba.etiqueta("lbl2008")->text(), kIncorrecta);
    QVERIFY(!prueba.errores("txtErr2008")->toPlainText().isEmpty());

    prueba.caja("txtPwd")->setText("buena");
    prueba.pulsaTest();

    for (const char* nombre : {"lbl2005", "lbl2008"}) {
        QCOMPARE(prueba.etiqueta(nombre)->text(), kCorrecta);
        QCOMPARE(colorTexto(prueba.etiqueta(nombre)), colorResaltado(prueba.etiqueta(nombre)));
    }
    QCOMPARE(prueba.errores("txtErr2005")->toPlainText(), QString());
    QCOMPARE(prueba.errores("txtErr2008")->toPlainText(), QString());
}

void TestCmTest::passesProbeBothProvidersWithMasterForEmptyDatabase_data() {
    QTest::addColumn<QString>("escrita");
    QTest::addColumn<QString>("enviada");
    QTest::newRow("empty") << ""
                           << "MASTER";
    QTest::newRow("blanks are not empty") << "   "
                                          << "   ";
    QTest::newRow("named") << "Ventas"
                           << "Ventas";
}

void TestCmTest::passesProbeBothProvidersWithMasterForEmptyDatabase() {
    QFETCH(QString, escrita);
    QFETCH(QString, enviada);
    VentanaPrueba prueba;
    prueba.rellena("SRV01", "", "", escrita);

    prueba.pulsaTest();

    const auto& cadenas = prueba.guion->cadenasAbiertas;
    QCOMPARE(cadenas.size(), std::size_t(2));
    QCOMPARE(valorDe(cadenas[0], "Provider"), std::string("SQLNCLI"));
    QCOMPARE(valorDe(cadenas[1], "Provider"), std::string("SQLNCLI10"));
    for (const std::string& cadena : cadenas)
        QCOMPARE(valorDe(cadena, "Database"), enviada.toStdString());
    QCOMPARE(prueba.caja("txtBD")->text(), escrita);
}

void TestCmTest::secondPassReadsTheInputsAgain() {
    VentanaPrueba prueba;
    prueba.rellena("SRV01", "sa", "uno", "");
    prueba.guion->alAbrir = [&](int numero) {
        if (numero == 0)
            prueba.rellena("SRV02", "", "dos", "Otra");
    };

    prueba.pulsaTest();

    const auto& cadenas = prueba.guion->cadenasAbiertas;
    QCOMPARE(cadenas.size(), std::size_t(2));
    QCOMPARE(valorDe(cadenas[0], "Server"), std::string("SRV01"));
    QCOMPARE(valorDe(cadenas[0], "User ID"), std::string("sa"));
    QCOMPARE(valorDe(cadenas[1], "Server"), std::string("SRV02"));
    QCOMPARE(valorDe(cadenas[1], "Database"), std::string("Otra"));
    QCOMPARE(valorDe(cadenas[1], "Integrated Security"), std::string("SSPI"));
}

void TestCmTest::firstOutcomeIsPaintedBeforeSecondProbe() {
    VentanaPrueba prueba;
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

void TestCmTest::everyPassWorksOnANewObjectClosedBeforeRelease() {
    VentanaPrueba prueba;
    prueba.guion->alAbrir = [](int numero) {
        if (numero % 2)
            throw data_access::ErrorConexion("no");
    };
    prueba.rellena("SRV01");

    for (int click = 1; click <= 3; ++click) {
        prueba.pulsaTest();
        QCOMPARE(prueba.guion->creadas, 2 * click);
        QCOMPARE(prueba.guion->vivas, 0); // the slot is empty after each run
    }
    // Pass 1 connects: closed, then released. Pass 2 fails: released unclosed.
    const auto& llamadas = prueba.guion->llamadas;
    const std::vector<std::string> cola(llamadas.end() - 11, llamadas.end());
    QCOMPARE(cola[3], std::string("open"));
    QCOMPARE(cola[4], std::string("close"));
    QCOMPARE(cola[5], std::string("release"));
    QCOMPARE(cola[9], std::string("open"));
    QCOMPARE(cola[10], std::string("release"));
    QCOMPARE(std::count(llamadas.begin(), llamadas.end(), "close"), 3L);
}

void TestCmTest::failingCloseEndsTheClickWithAMessageAndTheAppGoesOn() {
    VentanaPrueba prueba;
    bool cierreFalla = true;
    prueba.guion->alCerrar = [&] {
        if (cierreFalla)
            throw data_access::ErrorConexion("No se pudo cerrar la conexión.");
    };
    prueba.rellena("SRV01");

    prueba.pulsaTest();

    QCOMPARE(prueba.mensajes.vistos.size(), 1);
    const auto& mensaje = prueba.mensajes.vistos.first();
    QCOMPARE(mensaje.icono, QMessageBox::Critical);
    QCOMPARE(mensaje.titulo, QString("Tarpelino"));
    QCOMPARE(mensaje.texto, QString("No se pudo cerrar la conexión."));
    QCOMPARE(mensaje.botones, QMessageBox::StandardButtons(QMessageBox::Ok));
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

QTEST_MAIN(TestCmTest)
#include "tst_cmTest.moc"
