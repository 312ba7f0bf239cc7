#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QtTest>

namespace {

// Exposes "Text" but no selection properties.
class SoloTexto : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text)
public:
    QString text() const { return QStringLiteral("abc"); }
};

} // namespace

class SeleccionaTexto : public QObject {
    Q_OBJECT

private slots:
    void focusGainedAnyWaySelectsWholeText_data();
    void focusGainedAnyWaySelectsWholeText();
    void databaseBoxHasNoSelectionHandling();
    void initialFocusSelectsServerText();
    void lengthCountsTextBoxUnits();
    void controlsWithoutSelectionPropertiesAreLeftAlone();
};

void SeleccionaTexto::focusGainedAnyWaySelectsWholeText_data() {
    QTest::addColumn<Qt::FocusReason>("razon");
    // Qt selects all by itself only on Tab/Backtab/shortcut focus.
    QTest::newRow("other") << Qt::OtherFocusReason;
    QTest::newRow("mouse") << Qt::MouseFocusReason;
    QTest::newRow("tab") << Qt::TabFocusReason;
}

void SeleccionaTexto::focusGainedAnyWaySelectsWholeText() {
    QFETCH(Qt::FocusReason, razon);
    VentanaConFalsas prueba;
    for (const char* nombre : {"txtServer", "txtUsuario", "txtPwd"}) {
        QLineEdit* caja = prueba.caja(nombre);
        caja->setText("valor anterior");
        caja->setCursorPosition(3);
        prueba.control("cmTest")->setFocus();

        caja->setFocus(razon);
        QVERIFY2(caja->hasFocus(), nombre);
        QCOMPARE(caja->selectionStart(), 0);
        QCOMPARE(caja->selectionLength(), int(QString("valor anterior").size()));
        QTest::keyClicks(caja, "nuevo");
        QCOMPARE(caja->text(), QString("nuevo"));
    }
}

void SeleccionaTexto::databaseBoxHasNoSelectionHandling() {
    VentanaConFalsas prueba;
    QLineEdit* baseDatos = prueba.caja("txtBD");
    baseDatos->setText("Ventas");
    baseDatos->setCursorPosition(2);
    prueba.control("cmTest")->setFocus();

    baseDatos->setFocus(Qt::OtherFocusReason);
    QVERIFY(baseDatos->hasFocus());
    QVERIFY(!baseDatos->hasSelectedText());
}

void SeleccionaTexto::initialFocusSelectsServerText() {
    frmPrincipal ventana; // no click, so no connection object is ever made
    auto* servidor = ventana.findChild<QLineEdit*>("txtServer");
    servidor->setText("SRV01");
    servidor->setCursorPosition(5);

    ventana.show();
    QVERIFY(QTest::qWaitForWindowActive(&ventana));
    QCOMPARE(QApplication::focusWidget(), servidor);
    QCOMPARE(servidor->selectedText(), QString("SRV01"));
}

void SeleccionaTexto::lengthCountsTextBoxUnits() {
    VentanaConFalsas prueba;
    QLineEdit* usuario = prueba.caja("txtUsuario");
    const QString texto = QString::fromUtf8("ñó€😀x");
    usuario->setText(texto);

    prueba.ventana->seleccionaTexto(usuario);
    QCOMPARE(usuario->selectedText(), texto);
    QCOMPARE(usuario->property("SelStart").toInt(), 0);
    QCOMPARE(usuario->property("SelLength").toInt(), int(texto.size()));

    QPlainTextEdit* errores = prueba.errores("txtErr2005");
    errores->setPlainText("línea uno\nlínea dos");
    prueba.ventana->seleccionaTexto(errores);
    QCOMPARE(errores->textCursor().selectedText().size(), errores->toPlainText().size());
}

void SeleccionaTexto::controlsWithoutSelectionPropertiesAreLeftAlone() {
    VentanaConFalsas prueba;
    QLabel* etiqueta = prueba.etiqueta("Label4");
    const QString antes = etiqueta->text();
    QLineEdit* servidor = prueba.caja("txtServer");
    servidor->setText("SRV01");
    servidor->setCursorPosition(2);
    SoloTexto soloTexto;

    prueba.ventana->seleccionaTexto(etiqueta);
    prueba.ventana->seleccionaTexto(prueba.control("cmTest"));
    prueba.ventana->seleccionaTexto(&soloTexto);
    prueba.ventana->seleccionaTexto(static_cast<QObject*>(nullptr));

    QCOMPARE(etiqueta->text(), antes);
    QVERIFY(!etiqueta->hasSelectedText());
    QCOMPARE(servidor->cursorPosition(), 2);
    QVERIFY(!servidor->hasSelectedText());
}

PRUEBA_QT(SeleccionaTexto)
#include "SeleccionaTextoTest.moc"
