#include "tests/probe/dobles/VentanaPrueba.h"

#include <QAbstractTextDocumentLayout>
#include <QFontInfo>
#include <QGroupBox>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

namespace {

int pixeles(int twips, int dpi) {
    return qRound(twips * dpi / 1440.0);
}

// The window's controls with the positions they are drawn at, in twips of
// their container (a tab page's controls: of the tab container itself).
struct Colocacion {
    const char* nombre;
    const char* contenedor;
    int izquierda, arriba, ancho, alto;
};

const Colocacion kColocaciones[] = {
    {"Label5", "frmPrincipal", 120, 240, 5895, 495},  {"SSTab1", "frmPrincipal", 120, 840, 5895, 3735},
    {"cmTest", "frmPrincipal", 120, 4680, 5895, 615}, {"Frame1", "SSTab1", 120, 120, 5655, 1815},
    {"Label4", "Frame1", 240, 420, 735, 255},         {"txtServer", "Frame1", 1005, 390, 4215, 285},
    {"Label14", "Frame1", 240, 750, 735, 255},        {"txtUsuario", "Frame1", 1000, 720, 1695, 285},
    {"Label15", "Frame1", 240, 1080, 735, 255},       {"txtPwd", "Frame1", 1000, 1050, 1695, 285},
    {"Label1", "Frame1", 240, 1410, 735, 255},        {"txtBD", "Frame1", 1005, 1380, 4215, 285},
    {"Frame2", "SSTab1", 120, 1950, 5655, 1335},      {"Label2", "Frame2", 240, 480, 1455, 255},
    {"lbl2005", "Frame2", 1680, 450, 3550, 285},      {"Label3", "Frame2", 240, 840, 1455, 255},
    {"lbl2008", "Frame2", 1680, 810, 3555, 285},      {"Label6", "SSTab1", 240, 240, 1455, 255},
    {"txtErr2005", "SSTab1", 240, 480, 5535, 1215},   {"Label7", "SSTab1", 240, 1800, 1455, 255},
    {"txtErr2008", "SSTab1", 240, 2040, 5535, 1215},
};

QWidget* porNombre(const VentanaPrueba& prueba, const QString& nombre) {
    if (nombre == prueba.ventana->objectName())
        return prueba.ventana.get();
    return prueba.control(qPrintable(nombre));
}

} // namespace

class TestDisposicion : public QObject {
    Q_OBJECT

private slots:
    void everyControlSitsWhereItsTwipsSay_data();
    void everyControlSitsWhereItsTwipsSay();
    void windowClientAreaTitleAndPlacement();
    void tabStripRunsAlongTheBottomWithTwoPages();
    void resizingMovesNothing();
    void captionsAndFonts_data();
    void captionsAndFonts();
    void captionsFitTheirControls();
    void initialState();
    void tabOrderOnPageTest();
    void tabOrderOnPageErrores();
    void passwordBoxMasksWithAsterisksWithoutInputMethod();
    void resultLabelsHaveSunkenBorderBoldFontHighlightColour();
    void errorBoxesWrapWithoutScrollBars();
};

void TestDisposicion::everyControlSitsWhereItsTwipsSay_data() {
    QTest::addColumn<QString>("contenedor");
    QTest::addColumn<QRect>("twips");
    for (const Colocacion& c : kColocaciones)
        QTest::newRow(c.nombre) << QString(c.contenedor) << QRect(c.izquierda, c.arriba, c.ancho, c.alto);
}

void TestDisposicion::everyControlSitsWhereItsTwipsSay() {
    QFETCH(QString, contenedor);
    QFETCH(QRect, twips);
    VentanaPrueba prueba;
    QWidget* control = prueba.control(QTest::currentDataTag());
    QWidget* padre = porNombre(prueba, contenedor);
    const int dpiX = control->logicalDpiX();
    const int dpiY = control->logicalDpiY();

    QVERIFY(padre->isAncestorOf(control));
    const QRect esperado(pixeles(twips.x(), dpiX), pixeles(twips.y(), dpiY), pixeles(twips.width(), dpiX),
                         pixeles(twips.height(), dpiY));
    QCOMPARE(QRect(control->mapTo(padre, QPoint(0, 0)), control->size()), esperado);
    if (dpiX == 96 && QTest::currentDataTag() == QByteArray("lbl2005"))
        QCOMPARE(control->width(), 237); // 3550 twips, 236.67 px
}

void TestDisposicion::windowClientAreaTitleAndPlacement() {
    VentanaPrueba prueba;
    frmPrincipal* ventana = prueba.ventana.get();

    QCOMPARE(ventana->objectName(), QString("frmPrincipal"));
    QCOMPARE(ventana->windowTitle(), QString("USUARIO SQL SERVER"));
    QCOMPARE(ventana->size(),
             QSize(pixeles(6135, ventana->logicalDpiX()), pixeles(5415, ventana->logicalDpiY())));
    QCOMPARE(ventana->windowState(), Qt::WindowNoState);
    QVERIFY(ventana->minimumSize() != ventana->maximumSize());
    const QRect pantalla = ventana->screen()->availableGeometry();
    QVERIFY(qAbs(ventana->geometry().center().x() - pantalla.center().x()) <= 1);
    QVERIFY(qAbs(ventana->geometry().center().y() - pantalla.center().y()) <= 1);
}

void TestDisposicion::tabStripRunsAlongTheBottomWithTwoPages() {
    VentanaPrueba prueba;
    QWidget* contenedor = prueba.control("SSTab1");
    auto* pestanas = contenedor->findChild<QTabBar*>();
    QVERIFY(pestanas);

    QCOMPARE(pestanas->count(), 2);
    QCOMPARE(pestanas->tabText(0), QString("Test"));
    QCOMPARE(pestanas->tabText(1), QString("Errores"));
    QCOMPARE(pestanas->shape(), QTabBar::RoundedSouth);
    const int alto = pixeles(295, contenedor->logicalDpiY());
    QCOMPARE(pestanas->geometry(), QRect(0, contenedor->height() - alto, contenedor->width(), alto));
    // Page contents stay above the strip.
    for (const char* nombre : {"Frame2", "txtErr2008"}) {
        QWidget* control = prueba.control(nombre);
        QVERIFY(control->mapTo(contenedor, QPoint(0, control->height())).y() <= pestanas->y());
    }
}

void TestDisposicion::resizingMovesNothing() {
    VentanaPrueba prueba;
    QHash<QWidget*, QRect> antes;
    for (QWidget* control : prueba.ventana->findChildren<QWidget*>())
        antes.insert(control, control->geometry());

    for (const QSize tamano : {QSize(800, 600), QSize(150, 100)}) {
        prueba.ventana->resize(tamano);
        QCoreApplication::processEvents();
        for (auto it = antes.cbegin(); it != antes.cend(); ++it)
            QCOMPARE(it.key()->geometry(), it.value());
    }
}

void TestDisposicion::captionsAndFonts_data() {
    QTest::addColumn<QString>("texto");
    QTest::addColumn<qreal>("puntos");
    QTest::addColumn<bool>("negrita");

    QTest::newRow("Label5") << "TEST SQL Server" << 13.5 << true;
    QTest::newRow("cmTest") << "Test Conexión" << 9.75 << false;
    QTest::newRow("Frame1") << "Servidor SQL Server" << 8.25 << false;
    QTest::newRow("Label4") << "Servidor *" << 8.25 << false;
    QTest::newRow("Label14") << "Usuario" << 8.25 << false;
    QTest::newRow("Label15") << "Password" << 8.25 << false;
    QTest::newRow("Label1") << "BBDD" << 8.25 << false;
    QTest::newRow("Frame2") << "Resultado" << 8.25 << false;
    QTest::newRow("Label2") << "Test Versión 2005" << 8.25 << false;
    QTest::newRow("Label3") << "Test Versión 2008" << 8.25 << false;
    QTest::newRow("Label6") << "Versión 2005" << 8.25 << false;
    QTest::newRow("Label7") << "Versión 2008" << 8.25 << false;
    QTest::newRow("lbl2005") << "" << 8.25 << true;
    QTest::newRow("lbl2008") << "" << 8.25 << true;
    QTest::newRow("txtServer") << "" << 8.25 << false;
    QTest::newRow("txtErr2005") << "" << 8.25 << false;
}

void TestDisposicion::captionsAndFonts() {
    QFETCH(QString, texto);
    QFETCH(qreal, puntos);
    QFETCH(bool, negrita);
    VentanaPrueba prueba;
    QWidget* control = prueba.control(QTest::currentDataTag());

    QString leido;
    if (auto* etiqueta = qobject_cast<QLabel*>(control))
        leido = etiqueta->text();
    else if (auto* boton = qobject_cast<QAbstractButton*>(control))
        leido = boton->text();
    else if (auto* marco = qobject_cast<QGroupBox*>(control))
        leido = marco->title();
    else
        leido = control->property("Text").toString();
    QCOMPARE(leido, texto);
    QCOMPARE(control->font().pointSizeF(), puntos);
    QCOMPARE(control->font().bold(), negrita);
    QCOMPARE(control->font().italic(), false);
    // No MS Sans Serif here: the stand-in face must really be installed.
    const QString cara = QFontInfo(control->font()).family();
    QVERIFY2(control->font().families().contains(cara), qPrintable(cara));
}

void TestDisposicion::captionsFitTheirControls() {
    VentanaPrueba prueba;
    for (const char* nombre :
         {"Label4", "Label14", "Label15", "Label1", "Label2", "Label3", "Label6", "Label7", "Label5"}) {
        QLabel* etiqueta = prueba.etiqueta(nombre);
        const QRect necesario = etiqueta->fontMetrics().boundingRect(etiqueta->text());
        QVERIFY2(necesario.width() <= etiqueta->contentsRect().width(), nombre);
        QVERIFY2(etiqueta->fontMetrics().height() <= etiqueta->contentsRect().height(), nombre);
    }
    for (const char* nombre : {"lbl2005", "lbl2008"}) {
        QLabel* etiqueta = prueba.etiqueta(nombre);
        etiqueta->setText("Conexión INCORRECTA.");
        QVERIFY2(etiqueta->sizeHint().width() <= etiqueta->width(), nombre);
        QVERIFY2(etiqueta->fontMetrics().height() <= etiqueta->contentsRect().height(), nombre);
    }
    auto* boton = prueba.control<QPushButton>("cmTest");
    QVERIFY(boton->sizeHint().width() <= boton->width());
    QVERIFY(boton->sizeHint().height() <= boton->height());
}

void TestDisposicion::initialState() {
    VentanaPrueba prueba;

    for (const char* nombre : {"txtServer", "txtUsuario", "txtPwd", "txtBD"})
        QCOMPARE(prueba.caja(nombre)->text(), QString());
    for (const char* nombre : {"txtErr2005", "txtErr2008"}) {
        QCOMPARE(prueba.errores(nombre)->toPlainText(), QString());
        QVERIFY(!prueba.errores(nombre)->isReadOnly());
    }
    QCOMPARE(prueba.etiqueta("lbl2005")->text(), QString());
    QCOMPARE(prueba.etiqueta("lbl2008")->text(), QString());
    QVERIFY(prueba.control("Frame1")->isVisible());
    QVERIFY(!prueba.control("txtErr2005")->isVisible());
    QCOMPARE(QApplication::focusWidget(), prueba.control("txtServer"));
    for (QWidget* control : prueba.ventana->findChildren<QWidget*>())
        QVERIFY(control->isEnabled());
    QVERIFY(!prueba.control<QPushButton>("cmTest")->isDefault());
    QCOMPARE(prueba.caja("txtServer")->maxLength(), 32767); // QLineEdit's own ceiling, no limit of ours
}

void TestDisposicion::tabOrderOnPageTest() {
    VentanaPrueba prueba;
    QWidget* contenedor = prueba.control("SSTab1");
    const QList<QWidget*> esperado = {prueba.control("txtUsuario"), prueba.control("txtPwd"),
                                      prueba.control("txtBD"),      prueba.control("cmTest"),
                                      contenedor->focusProxy(),     prueba.control("txtServer")};
    QCOMPARE(QApplication::focusWidget(), prueba.control("txtServer"));
    for (QWidget* siguiente : esperado) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), siguiente);
    }
    QVERIFY(contenedor->focusProxy() && contenedor->isAncestorOf(contenedor->focusProxy()));
}

void TestDisposicion::tabOrderOnPageErrores() {
    VentanaPrueba prueba;
    QWidget* contenedor = prueba.control("SSTab1");
    contenedor->findChild<QTabBar*>()->setCurrentIndex(1);
    QVERIFY(prueba.control("txtErr2005")->isVisible());
    QVERIFY(!prueba.control("txtServer")->isVisible());

    prueba.control("cmTest")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(contenedor->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), prueba.control("txtErr2005"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), prueba.control("txtErr2008"));
    QCOMPARE(prueba.errores("txtErr2005")->toPlainText(), QString()); // Tab moved on, typed nothing
}

void TestDisposicion::passwordBoxMasksWithAsterisksWithoutInputMethod() {
    VentanaPrueba prueba;
    QLineEdit* pwd = prueba.caja("txtPwd");
    QTest::keyClicks(pwd, "secreto1");

    QCOMPARE(pwd->text(), QString("secreto1"));
    QCOMPARE(pwd->displayText(), QString(8, '*'));
    QVERIFY(!pwd->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(prueba.caja("txtUsuario")->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(prueba.caja("txtUsuario")->displayText(), QString());
}

void TestDisposicion::resultLabelsHaveSunkenBorderBoldFontHighlightColour() {
    VentanaPrueba prueba;
    for (const char* nombre : {"lbl2005", "lbl2008"}) {
        QLabel* etiqueta = prueba.etiqueta(nombre);
        QCOMPARE(etiqueta->frameShadow(), QFrame::Sunken);
        QVERIFY(etiqueta->frameShape() != QFrame::NoFrame && etiqueta->frameWidth() > 0);
        QCOMPARE(colorTexto(etiqueta), colorResaltado(etiqueta));
    }
    QCOMPARE(colorTexto(prueba.etiqueta("Label5")), colorResaltado(prueba.etiqueta("Label5")));
    QVERIFY(prueba.etiqueta("Label5")->alignment() & Qt::AlignHCenter);
    QCOMPARE(prueba.etiqueta("Label4")->frameShape(), QFrame::NoFrame);
}

void TestDisposicion::errorBoxesWrapWithoutScrollBars() {
    VentanaPrueba prueba;
    prueba.control("SSTab1")->findChild<QTabBar*>()->setCurrentIndex(1);
    QPlainTextEdit* caja = prueba.errores("txtErr2005");
    caja->setPlainText(QString("palabra ").repeated(60).trimmed());
    QCoreApplication::processEvents();

    QCOMPARE(caja->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(caja->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(caja->document()->documentLayout()->documentSize().height() > 1); // laid out
    QVERIFY(caja->document()->firstBlock().layout()->lineCount() > 1);
    QVERIFY(!caja->horizontalScrollBar()->isVisible());
}

QTEST_MAIN(TestDisposicion)
#include "tst_disposicion.moc"
