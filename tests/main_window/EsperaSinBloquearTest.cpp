#include "tests/support/ConexionFalsa.h"
#include "tests/support/EntradaSistema.h"
#include "tests/support/PruebasQt.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QtTest>

class EsperaSinBloquear : public QObject {
    Q_OBJECT

private slots:
    // A closed last window would otherwise quit the application, and every
    // event loop after it would return at once.
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void windowRepaintsButTakesNoInputWhileOpenWaits();
    void closeDuringRunIsCarriedOutWhenRunEnds();
};

void EsperaSinBloquear::windowRepaintsButTakesNoInputWhileOpenWaits() {
    VentanaConFalsas prueba;
    const auto compuerta = prueba.guion->compuerta = std::make_shared<CompuertaApertura>();
    prueba.rellena("SRV01");
    QLineEdit* txtServer = prueba.caja("txtServer");
    QLineEdit* txtBD = prueba.caja("txtBD");
    auto* cmTest = prueba.control<QPushButton>("cmTest");
    ContadorPintado pintado;
    prueba.etiqueta("lbl2005")->installEventFilter(&pintado);

    QString servidorDurante;
    int creadasDurante = -1;
    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            // The user is back in the server box (selecting its text, as on
            // every focus), types, clicks the button again, then types in
            // the database box.
            txtServer->setFocus();
            teclaDelSistema(prueba.ventana->windowHandle(), Qt::Key_X, "x");
            clicDelSistema(cmTest);
            clicDelSistema(txtBD);
            teclaDelSistema(prueba.ventana->windowHandle(), Qt::Key_V, "v");
            cmTest->click(); // and a click that skips the window system
            prueba.ventana->hide();
            return true;
        },
        [&] {
            pintado.veces = 0;
            prueba.ventana->show();
            return true;
        },
        [&] {
            if (pintado.veces == 0)
                return false;
            servidorDurante = txtServer->text();
            creadasDurante = prueba.guion->creadas;
            compuerta->suelta();
            return true;
        },
    });

    prueba.pulsaTest();

    QCOMPARE(pasos.hechos, pasos.total());
    QCOMPARE(servidorDurante, QString("SRV01"));
    QCOMPARE(creadasDurante, 1); // no second run inside the first
    QCOMPARE(prueba.guion->abiertasFueraDelHiloGui, 2);
    QCOMPARE(prueba.etiqueta("lbl2008")->text(), kCorrecta);
    // The window system's input was held, not lost: it is taken after the
    // run, in order, all but the click on the button (see CmTestClick).
    QTRY_COMPARE(txtBD->text(), QString("v"));
    QCOMPARE(txtServer->text(), QString("x"));
    QCOMPARE(prueba.guion->creadas, 2);
}

void EsperaSinBloquear::closeDuringRunIsCarriedOutWhenRunEnds() {
    VentanaConFalsas prueba;
    const auto compuerta = prueba.guion->compuerta = std::make_shared<CompuertaApertura>();
    prueba.rellena("SRV01");
    QLabel* lbl2008 = prueba.etiqueta("lbl2008");
    auto* cmTest = prueba.control<QPushButton>("cmTest");
    prueba.ventana->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<frmPrincipal> ventana = prueba.ventana.release();

    bool cerroDurante = true;
    bool visibleDurante = false;
    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            cerroDurante = ventana->close();
            return true;
        },
        [&] {
            visibleDurante = ventana && ventana->isVisible();
            compuerta->suelta();
            return true;
        },
    });

    QTest::mouseClick(cmTest, Qt::LeftButton);

    QCOMPARE(pasos.hechos, pasos.total());
    QVERIFY(!cerroDurante);
    QVERIFY(visibleDurante);
    QVERIFY(!ventana.isNull());
    QCOMPARE(lbl2008->text(), kCorrecta); // the run went on to its end
    QCOMPARE(prueba.guion->vivas, 0);
    QTRY_VERIFY(ventana.isNull());
}

PRUEBA_QT(EsperaSinBloquear)
#include "EsperaSinBloquearTest.moc"
