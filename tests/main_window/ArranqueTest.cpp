#include "main_window/arranque.h"
#include "main_window/iconoAplicacion.h"
#include "main_window/primerFotograma.h"
#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"
#include "tests/support/VentanaPrueba.h"

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class Arranque : public QObject {
    Q_OBJECT

private slots:
    void helpAndVersionAnswerWithoutAWindow() {
        const char* ayuda[] = {"tarpelino", "--help"};
        const auto a = respondeLineaOrdenes(2, ayuda);
        QVERIFY(a);
        QCOMPARE(a->estado, 0);
        QVERIFY(QString::fromStdString(a->texto).startsWith("Uso: tarpelino"));
        QVERIFY(QString::fromStdString(a->texto).contains("--version"));
        const char* version[] = {"tarpelino", "-platform", "xcb", "--version"};
        const auto v = respondeLineaOrdenes(4, version);
        QVERIFY(v);
        QCOMPARE(QString::fromStdString(v->texto), QString("tarpelino 1.0.0.0\n"));
        // Anything else is the window's, and Qt's options are Qt's.
        const char* qt[] = {"tarpelino", "-platform", "xcb"};
        QVERIFY(!respondeLineaOrdenes(3, qt));
        QVERIFY(!respondeLineaOrdenes(1, qt));
    }

    void qtsOwnTextsAreSpanish() {
        instalaTraduccionesQt(*QCoreApplication::instance());
        QLineEdit caja;
        caja.setText("texto");
        std::unique_ptr<QMenu> menu(caja.createStandardContextMenu());
        QStringList textos;
        for (const QAction* accion : menu->actions())
            if (!accion->isSeparator())
                textos << accion->text().section('\t', 0, 0); // without its shortcut
        QVERIFY2(textos.contains("&Deshacer") && textos.contains("&Pegar"), qPrintable(textos.join(", ")));
        QVERIFY2(!textos.contains("&Undo") && !textos.contains("&Paste"), qPrintable(textos.join(", ")));
    }

    void theIconsLargeSizesWaitForTheFirstFrame() {
        QTemporaryDir carpeta;
        QVERIFY(carpeta.isValid());
        for (const int lado : {16, 24, 32, 48, 64, 128, 256}) {
            QImage imagen(lado, lado, QImage::Format_ARGB32);
            imagen.fill(Qt::darkCyan);
            QVERIFY(imagen.save(carpeta.filePath(QStringLiteral("%1.png").arg(lado))));
        }
        const auto lados = [] {
            QList<int> l;
            for (const QSize& s : QApplication::windowIcon().availableSizes())
                l << s.width();
            std::sort(l.begin(), l.end());
            return l;
        };
        QWidget ventana;
        instalaIconoAplicacion(ventana, carpeta.filePath(QStringLiteral("%1.png")));
        QCOMPARE(lados(), QList<int>({16, 24, 32, 48}));
        ventana.show();
        QTRY_COMPARE(lados(), QList<int>({16, 24, 32, 48, 64, 128, 256}));
        QApplication::setWindowIcon(QIcon());
    }

    void theWindowIsAFrameToScreenReaders() {
        VentanaConFalsas v;
        QAccessibleInterface* interfaz = QAccessible::queryAccessibleInterface(v.ventana.get());
        QVERIFY(interfaz);
        QCOMPARE(interfaz->role(), QAccessible::Window);
    }

    // Readying the first outcome's drawing happens off screen: the labels stay empty, with no
    // tooltip and nothing new for a screen reader, and the window looks exactly as before.
    void readyingTheFirstOutcomeLeavesTheWindowAsItWas() {
        VentanaConFalsas v;
        const QImage antes = v.ventana->grab().toImage();
        QStringList estado;
        const auto describe = [&v] {
            QStringList d;
            for (const char* nombre : {"lbl2005", "lbl2008"}) {
                const QLabel* e = v.etiqueta(nombre);
                d << e->text() << e->toolTip() << e->accessibleDescription()
                  << e->palette().color(e->foregroundRole()).name();
            }
            return d;
        };
        estado = describe();
        v.ventana->preparaPrimerResultado();
        QCoreApplication::processEvents();
        QCOMPARE(describe(), estado);
        QCOMPARE(v.etiqueta("lbl2005")->text(), QString());
        QCOMPARE(v.ventana->grab().toImage(), antes);
    }

    // What the window starts after its first frame (the login server) runs
    // once that frame is painted, never before, and once only.
    void workForAfterTheFirstFrameWaitsForIt() {
        struct Ventana : QWidget {
            int pintadas = 0;
            void paintEvent(QPaintEvent*) override { ++pintadas; }
        } ventana;
        int llamadas = 0;
        int pintadasAlLlamar = -1;
        alPrimerFotograma(&ventana, [&] {
            ++llamadas;
            pintadasAlLlamar = ventana.pintadas;
        });
        QCoreApplication::processEvents();
        QTest::qWait(50);
        QCOMPARE(llamadas, 0);
        ventana.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ventana));
        QTRY_COMPARE(llamadas, 1);
        QVERIFY(pintadasAlLlamar >= 1);
        ventana.repaint();
        ventana.hide();
        ventana.show();
        QTest::qWait(50);
        QCOMPARE(llamadas, 1);
    }
};

PRUEBA_QT(Arranque)
#include "ArranqueTest.moc"
