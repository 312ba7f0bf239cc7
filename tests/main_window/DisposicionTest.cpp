#include "main_window/disposicion.h"
#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QAbstractTextDocumentLayout>
#include <QFontInfo>
#include <QGroupBox>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

namespace {

// The window's control table: container, caption and font; the place is the window's own table.
struct Control {
    const char* nombre;
    const char* contenedor;
    const char* texto;
    qreal puntos;
    bool negrita;
};

const Control kControles[] = {
    {"Label5", "frmPrincipal", "TEST SQL Server", 13.5, true},
    {"SSTab1", "frmPrincipal", "", 8.25, false},
    {"cmTest", "frmPrincipal", "Test Conexión", 9.75, false},
    {"Frame1", "SSTab1", "Servidor SQL Server", 8.25, false},
    {"Label4", "Frame1", "Servidor *", 8.25, false},
    {"txtServer", "Frame1", "", 8.25, false},
    {"Label14", "Frame1", "Usuario", 8.25, false},
    {"txtUsuario", "Frame1", "", 8.25, false},
    {"Label15", "Frame1", "Password", 8.25, false},
    {"txtPwd", "Frame1", "", 8.25, false},
    {"Label1", "Frame1", "BBDD", 8.25, false},
    {"txtBD", "Frame1", "", 8.25, false},
    {"Frame2", "SSTab1", "Resultado", 8.25, false},
    {"Label2", "Frame2", "Test Versión 2005", 8.25, false},
    {"lbl2005", "Frame2", "", 8.25, true},
    {"Label3", "Frame2", "Test Versión 2008", 8.25, false},
    {"lbl2008", "Frame2", "", 8.25, true},
    {"Label6", "SSTab1", "Versión 2005", 8.25, false},
    {"txtErr2005", "SSTab1", "", 8.25, false},
    {"Label7", "SSTab1", "Versión 2008", 8.25, false},
    {"txtErr2008", "SSTab1", "", 8.25, false},
};

// Twips to pixels at the screen's logical resolution: 15 twips a pixel at 96 dpi.
int pixeles(int twips, int dpi) {
    return qRound(twips * dpi / 1440.0);
}

QString texto(const QWidget* control) {
    if (auto* etiqueta = qobject_cast<const QLabel*>(control))
        return etiqueta->text();
    if (auto* boton = qobject_cast<const QAbstractButton*>(control))
        return boton->text();
    if (auto* marco = qobject_cast<const QGroupBox*>(control))
        return marco->title();
    return control->property("Text").toString();
}

} // namespace

class Disposicion : public QObject {
    Q_OBJECT

private slots:
    void everyControlHasItsContainerPlaceCaptionAndFont_data();
    void everyControlHasItsContainerPlaceCaptionAndFont();
    void windowClientAreaTitleAndPlacement();
    void tabStripRunsAlongTheBottomWithTwoPages();
    void resizingMovesNothing();
    void captionsFitTheirControls();
    void initialState();
    void tabOrderOnPageTest();
    void tabOrderOnPageErrores();
    void passwordBoxMasksWithAsterisksWithoutInputMethod();
    void resultLabelsHaveSunkenBorderBoldFontHighlightColour();
    void errorBoxesWrapWithoutScrollBars();
};

void Disposicion::everyControlHasItsContainerPlaceCaptionAndFont_data() {
    QTest::addColumn<int>("fila");
    for (const Control& c : kControles)
        QTest::newRow(c.nombre) << int(&c - kControles);
}

void Disposicion::everyControlHasItsContainerPlaceCaptionAndFont() {
    QFETCH(int, fila);
    const Control& c = kControles[fila];
    const Colocacion* sitio = nullptr;
    for (const Colocacion& colocacion : kDisposicion)
        if (QLatin1String(colocacion.nombre) == QLatin1String(c.nombre))
            sitio = &colocacion;
    QVERIFY2(sitio, "not placed by the window");
    VentanaConFalsas prueba;
    QWidget* control = prueba.control(c.nombre);
    QWidget* padre =
        c.contenedor == prueba.ventana->objectName() ? prueba.ventana.get() : prueba.control(c.contenedor);
    const int dpiX = control->logicalDpiX();
    const int dpiY = control->logicalDpiY();

    QVERIFY(padre->isAncestorOf(control));
    QCOMPARE(QRect(control->mapTo(padre, QPoint(0, 0)), control->size()),
             QRect(pixeles(sitio->izquierda, dpiX), pixeles(sitio->arriba, dpiY), pixeles(sitio->ancho, dpiX),
                   pixeles(sitio->alto, dpiY)));
    QCOMPARE(texto(control), QString(c.texto));
    QCOMPARE(control->font().pointSizeF(), c.puntos);
    QCOMPARE(control->font().bold(), c.negrita);
    QCOMPARE(control->font().italic(), false);
    // No MS Sans Serif here: the stand-in face must really be installed.
    const QString cara = QFontInfo(control->font()).family();
    QVERIFY2(control->font().families().contains(cara), qPrintable(cara));
}

void Disposicion::windowClientAreaTitleAndPlacement() {
    VentanaConFalsas prueba;
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

void Disposicion::tabStripRunsAlongTheBottomWithTwoPages() {
    VentanaConFalsas prueba;
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

void Disposicion::resizingMovesNothing() {
    VentanaConFalsas prueba;
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

// Every caption in its label, the longer outcome in the result labels, the button's caption in the button.
void Disposicion::captionsFitTheirControls() {
    VentanaConFalsas prueba;
    for (const Control& c : kControles) {
        auto* etiqueta = qobject_cast<QLabel*>(prueba.control(c.nombre));
        if (!etiqueta)
            continue;
        const QFontMetrics medidas = etiqueta->fontMetrics();
        if (etiqueta->text().isEmpty()) {
            etiqueta->setText(kIncorrecta);
            // With the indent their frame brings.
            QVERIFY2(etiqueta->sizeHint().width() <= etiqueta->width(), c.nombre);
        } else {
            QVERIFY2(medidas.boundingRect(etiqueta->text()).width() <= etiqueta->contentsRect().width(),
                     c.nombre);
        }
        QVERIFY2(medidas.height() <= etiqueta->contentsRect().height(), c.nombre);
    }
    auto* boton = prueba.control<QPushButton>("cmTest");
    QVERIFY(boton->sizeHint().width() <= boton->width());
    QVERIFY(boton->sizeHint().height() <= boton->height());
}

void Disposicion::initialState() {
    VentanaConFalsas prueba;

    // Empty boxes and blank result labels: the control table.
    for (const char* nombre : {"txtErr2005", "txtErr2008"})
        QVERIFY(!prueba.errores(nombre)->isReadOnly());
    QVERIFY(prueba.control("Frame1")->isVisible());
    QVERIFY(!prueba.control("txtErr2005")->isVisible());
    QCOMPARE(QApplication::focusWidget(), prueba.control("txtServer"));
    for (QWidget* control : prueba.ventana->findChildren<QWidget*>())
        QVERIFY(control->isEnabled());
    QVERIFY(!prueba.control<QPushButton>("cmTest")->isDefault());
    QCOMPARE(prueba.caja("txtServer")->maxLength(), 32767); // QLineEdit's own ceiling, no limit of ours
}

void Disposicion::tabOrderOnPageTest() {
    VentanaConFalsas prueba;
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

void Disposicion::tabOrderOnPageErrores() {
    VentanaConFalsas prueba;
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

void Disposicion::passwordBoxMasksWithAsterisksWithoutInputMethod() {
    VentanaConFalsas prueba;
    QLineEdit* pwd = prueba.caja("txtPwd");
    QTest::keyClicks(pwd, "secreto1");

    QCOMPARE(pwd->text(), QString("secreto1"));
    QCOMPARE(pwd->displayText(), QString(8, '*'));
    QVERIFY(!pwd->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(prueba.caja("txtUsuario")->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(prueba.caja("txtUsuario")->displayText(), QString());
}

void Disposicion::resultLabelsHaveSunkenBorderBoldFontHighlightColour() {
    VentanaConFalsas prueba;
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

void Disposicion::errorBoxesWrapWithoutScrollBars() {
    VentanaConFalsas prueba;
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

PRUEBA_QT(Disposicion)
#include "DisposicionTest.moc"
