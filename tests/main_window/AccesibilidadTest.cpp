#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QAccessible>
#include <QtTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <utility>
#include <vector>

namespace {

// The interface of the object named `nombre`, found by walking down from the window.
QAccessibleInterface* buscaEnArbol(QAccessibleInterface* raiz, const QString& nombre) {
    if (!raiz)
        return nullptr;
    if (raiz->object() && raiz->object()->objectName() == nombre)
        return raiz;
    for (int i = 0; i < raiz->childCount(); ++i)
        if (QAccessibleInterface* hallado = buscaEnArbol(raiz->child(i), nombre))
            return hallado;
    return nullptr;
}

std::vector<std::pair<QObject*, QAccessible::Event>> eventos;

void anotaEvento(QAccessibleEvent* evento) {
    eventos.emplace_back(evento->object(), evento->type());
}

} // namespace

class Accesibilidad : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // As when a screen reader listens: events reach the handler only then.
        QPlatformAccessibility* plataforma = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(plataforma);
        plataforma->setActive(true);
        QAccessible::installUpdateHandler(anotaEvento);
    }

    void namesAndRolesComeFromTheCaptions_data();
    void namesAndRolesComeFromTheCaptions();
    void onlyThePasswordBoxIsAPasswordField();
    void resultLabelsAnnounceTheirNewText();
};

void Accesibilidad::namesAndRolesComeFromTheCaptions_data() {
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QAccessible::Role>("papel");
    const auto caja = QAccessible::EditableText;
    QTest::newRow("txtServer") << "Servidor *" << caja;
    QTest::newRow("txtUsuario") << "Usuario" << caja;
    QTest::newRow("txtPwd") << "Password" << caja;
    QTest::newRow("txtBD") << "BBDD" << caja;
    QTest::newRow("lbl2005") << "Test Versión 2005" << QAccessible::StaticText;
    QTest::newRow("lbl2008") << "Test Versión 2008" << QAccessible::StaticText;
    QTest::newRow("txtErr2005") << "Versión 2005" << caja;
    QTest::newRow("txtErr2008") << "Versión 2008" << caja;
}

void Accesibilidad::namesAndRolesComeFromTheCaptions() {
    QFETCH(QString, nombre);
    QFETCH(QAccessible::Role, papel);
    VentanaConFalsas prueba;

    QAccessibleInterface* interfaz = buscaEnArbol(QAccessible::queryAccessibleInterface(prueba.ventana.get()),
                                                  QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(interfaz, "not reachable from the window's accessible tree");
    QCOMPARE(interfaz->text(QAccessible::Name), nombre);
    QCOMPARE(interfaz->role(), papel);
}

void Accesibilidad::onlyThePasswordBoxIsAPasswordField() {
    VentanaConFalsas prueba;
    QAccessibleInterface* raiz = QAccessible::queryAccessibleInterface(prueba.ventana.get());
    for (const char* caja : {"txtServer", "txtUsuario", "txtBD"}) {
        QAccessibleInterface* interfaz = buscaEnArbol(raiz, QString::fromLatin1(caja));
        QVERIFY(interfaz);
        QVERIFY2(!interfaz->state().passwordEdit, caja);
    }
    prueba.caja("txtPwd")->setText("secreto");
    QAccessibleInterface* pwd = buscaEnArbol(raiz, QStringLiteral("txtPwd"));
    QVERIFY(pwd);
    QVERIFY(pwd->state().passwordEdit);
    QVERIFY(!pwd->text(QAccessible::Value).contains("secreto"));
}

void Accesibilidad::resultLabelsAnnounceTheirNewText() {
    VentanaConFalsas prueba;
    prueba.guion->alAbrir = [](int numero) {
        if (numero == 0)
            throw login_shared::ErrorConexion("sin servidor");
    };
    prueba.rellena("SRV01");
    QLabel* lbl2005 = prueba.etiqueta("lbl2005");
    QLabel* lbl2008 = prueba.etiqueta("lbl2008");
    eventos.clear();

    prueba.pulsaTest();

    const auto anunciado = [](QObject* etiqueta) {
        for (const auto& [objeto, tipo] : eventos)
            if (objeto == etiqueta &&
                (tipo == QAccessible::DescriptionChanged || tipo == QAccessible::NameChanged))
                return true;
        return false;
    };
    QVERIFY(anunciado(lbl2005));
    QVERIFY(anunciado(lbl2008));
    QAccessibleInterface* i2005 = QAccessible::queryAccessibleInterface(lbl2005);
    QAccessibleInterface* i2008 = QAccessible::queryAccessibleInterface(lbl2008);
    QCOMPARE(i2005->text(QAccessible::Name), QStringLiteral("Test Versión 2005"));
    QCOMPARE(i2005->text(QAccessible::Description), kIncorrecta);
    QCOMPARE(i2008->text(QAccessible::Description), kCorrecta);

    // A second run that turns 2005 round is heard too.
    prueba.guion->alAbrir = [](int) {};
    eventos.clear();
    prueba.pulsaTest();
    QVERIFY(anunciado(lbl2005));
    QCOMPARE(i2005->text(QAccessible::Description), kCorrecta);
}

PRUEBA_QT(Accesibilidad)
#include "AccesibilidadTest.moc"
