#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <functional>
#include <qpa/qwindowsysteminterface.h>
#include <vector>

namespace {

// Steps a test takes while an open is held: run one after the other from a
// timer of the thread's event loop, each retried on every tick until it
// reports itself done. They can only run while the probe waits if the window
// keeps its event loop going. No QTRY_ inside them: its waits would hand the
// queued user input over themselves.
class PasosDuranteApertura : public QObject {
public:
    explicit PasosDuranteApertura(std::vector<std::function<bool()>> pasos) : pasos_(std::move(pasos)) {
        temporizador_.setInterval(10);
        QObject::connect(&temporizador_, &QTimer::timeout, this, [this] {
            if (hechos < int(pasos_.size()) && pasos_[hechos]())
                ++hechos;
            if (hechos == int(pasos_.size()))
                temporizador_.stop();
        });
        temporizador_.start();
    }
    int total() const { return int(pasos_.size()); }

    int hechos = 0;

private:
    std::vector<std::function<bool()>> pasos_;
    QTimer temporizador_;
};

using Asincrona = QWindowSystemInterface::AsynchronousDelivery;

// A key press and release as the window system hands them to a window: queued
// for the event loop, not delivered on the spot as QTest does.
void teclaDelSistema(QWindow* ventana, Qt::Key tecla, const QString& texto) {
    QWindowSystemInterface::handleKeyEvent<Asincrona>(ventana, QEvent::KeyPress, tecla, Qt::NoModifier,
                                                      texto);
    QWindowSystemInterface::handleKeyEvent<Asincrona>(ventana, QEvent::KeyRelease, tecla, Qt::NoModifier,
                                                      texto);
}

void clicDelSistema(QWidget* control) {
    QWindow* ventana = control->window()->windowHandle();
    const QPointF local = control->mapTo(control->window(), control->rect().center());
    const QPointF global = ventana->mapToGlobal(local.toPoint());
    QWindowSystemInterface::handleMouseEvent<Asincrona>(ventana, local, global, Qt::LeftButton,
                                                        Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Asincrona>(ventana, local, global, Qt::NoButton, Qt::LeftButton,
                                                        QEvent::MouseButtonRelease);
}

} // namespace

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
    auto* cmTest = prueba.control<QPushButton>("cmTest");
    ContadorPintado pintado;
    prueba.etiqueta("lbl2005")->installEventFilter(&pintado);

    QString servidorDurante;
    int creadasDurante = -1;
    PasosDuranteApertura pasos({
        [&] { return compuerta->llegadas() == 1; },
        [&] {
            // The user is back in the server box (selecting its text, as on
            // every focus), types and clicks the button again.
            txtServer->setFocus();
            teclaDelSistema(prueba.ventana->windowHandle(), Qt::Key_X, "x");
            clicDelSistema(cmTest);
            cmTest->click(); // and one that skips the window system
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
    // The window system's input was held, not lost: it is taken after the run.
    QTRY_COMPARE(txtServer->text(), QString("x"));
    QTRY_COMPARE(prueba.guion->creadas, 4);
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
