#include "data_access/ConnectionString.h"
#include "tests/probe/dobles/VentanaPrueba.h"

#include <QApplication>
#include <QCursor>
#include <QtTest>
#include <optional>

namespace {

const QString kSinServidor = QStringLiteral("Imposible conectar con Servidor SQL Server: Indique Servidor.");

std::optional<Qt::CursorShape> cursorAplicacion() {
    if (const QCursor* cursor = QApplication::overrideCursor())
        return cursor->shape();
    return std::nullopt;
}

void quitaCursorAplicacion() {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

} // namespace

class TestCompruebaConexion : public QObject {
    Q_OBJECT

private slots:
    void init() { quitaCursorAplicacion(); }
    void cleanup() {
        quitaCursorAplicacion();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void emptyServerShowsTheBoxOncePerPassAndConnectsNothing();
    void blankServerIsNotEmptyAndIsAttempted();
    void composesSetsReadsBackSetsAndOpensInThatOrder_data();
    void composesSetsReadsBackSetsAndOpensInThatOrder();
    void secondSetAppendsToWhatTheObjectGaveBack();
    void cursorIsNoneBeforeHourglassDuringOpenArrowAfter_data();
    void cursorIsNoneBeforeHourglassDuringOpenArrowAfter();
    void cursorOverrideNeverStacks();
};

void TestCompruebaConexion::emptyServerShowsTheBoxOncePerPassAndConnectsNothing() {
    VentanaPrueba prueba;
    prueba.rellena("", "sa", "pw", "Ventas");
    prueba.errores("txtErr2005")->setPlainText("anterior");
    std::optional<Qt::CursorShape> cursorConCaja = Qt::BusyCursor;
    prueba.mensajes.mientrasSeMuestra = [&] { cursorConCaja = cursorAplicacion(); };

    prueba.pulsaTest();

    QCOMPARE(prueba.mensajes.vistos.size(), 2);
    for (const auto& mensaje : prueba.mensajes.vistos) {
        QCOMPARE(mensaje.icono, QMessageBox::Critical);
        QCOMPARE(mensaje.titulo, QString("Tarpelino"));
        QCOMPARE(mensaje.texto, kSinServidor);
        QCOMPARE(mensaje.botones, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(mensaje.modal);
    }
    QCOMPARE(cursorConCaja, std::nullopt);
    QCOMPARE(cursorAplicacion(), std::nullopt);
    QCOMPARE(prueba.guion->creadas, 0);
    for (const char* nombre : {"lbl2005", "lbl2008"}) {
        QCOMPARE(prueba.etiqueta(nombre)->text(), QString("Conexión INCORRECTA."));
        QCOMPARE(colorTexto(prueba.etiqueta(nombre)), QColor(255, 0, 0));
    }
    // The error text was never set, so both boxes get the click's empty one.
    QCOMPARE(prueba.errores("txtErr2005")->toPlainText(), QString());
    QCOMPARE(prueba.errores("txtErr2008")->toPlainText(), QString());
}

void TestCompruebaConexion::blankServerIsNotEmptyAndIsAttempted() {
    VentanaPrueba prueba;
    prueba.rellena("   ");

    prueba.pulsaTest();

    QCOMPARE(prueba.mensajes.vistos.size(), 0);
    QCOMPARE(prueba.guion->cadenasAbiertas.size(), std::size_t(2));
    const auto analizada = data_access::ConnectionString::parse(prueba.guion->cadenasAbiertas.at(0));
    QCOMPARE(analizada.value("Server").value_or("<missing>"), std::string("   "));
}

void TestCompruebaConexion::composesSetsReadsBackSetsAndOpensInThatOrder_data() {
    QTest::addColumn<QString>("usuario");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("baseDatos");
    QTest::addColumn<QString>("base2005");
    QTest::addColumn<QString>("sufijo");

    QTest::newRow("integrated, default database")
        << ""
        << "ignored"
        << ""
        << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;"
        << "Integrated Security=SSPI;";
    QTest::newRow("login with empty password")
        << "sa"
        << ""
        << "Ventas"
        << "Provider=SQLNCLI;Server=SRV01;Database=Ventas;DataTypeCompatibility=80;"
        << "User ID=sa;Password=;";
    QTest::newRow("blank user selects the login pair")
        << " "
        << "pw"
        << "  "
        << "Provider=SQLNCLI;Server=SRV01;Database=\"  \";DataTypeCompatibility=80;"
        << "User ID=\" \";Password=pw;";
    QTest::newRow("password with semicolon arrives whole")
        << "sa"
        << "Ab;1"
        << ""
        << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;"
        << "User ID=sa;Password=\"Ab;1\";";
}

void TestCompruebaConexion::composesSetsReadsBackSetsAndOpensInThatOrder() {
    QFETCH(QString, usuario);
    QFETCH(QString, password);
    QFETCH(QString, baseDatos);
    QFETCH(QString, base2005);
    QFETCH(QString, sufijo);
    VentanaPrueba prueba;
    prueba.rellena("SRV01", usuario, password, baseDatos);

    prueba.pulsaTest();

    const std::string base = base2005.toStdString();
    std::string base10 = base;
    base10.replace(0, std::string("Provider=SQLNCLI;").size(), "Provider=SQLNCLI10;");
    const std::string completa = base + sufijo.toStdString();
    const std::string completa10 = base10 + sufijo.toStdString();
    const std::vector<std::string> esperadas = {
        "set:" + base,   "get", "set:" + completa,   "open", "close", "release",
        "set:" + base10, "get", "set:" + completa10, "open", "close", "release",
    };
    QCOMPARE(prueba.guion->llamadas, esperadas);
}

void TestCompruebaConexion::secondSetAppendsToWhatTheObjectGaveBack() {
    VentanaPrueba prueba;
    prueba.guion->alLeer = [](const std::string& cadena) { return cadena + "Application Name=Leida;"; };
    prueba.rellena("SRV01");

    prueba.pulsaTest();

    QCOMPARE(prueba.guion->cadenasAbiertas.at(0),
             std::string("Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;"
                         "Application Name=Leida;Integrated Security=SSPI;"));
}

void TestCompruebaConexion::cursorIsNoneBeforeHourglassDuringOpenArrowAfter_data() {
    QTest::addColumn<bool>("abreBien");
    QTest::newRow("open succeeds") << true;
    QTest::newRow("open fails") << false;
}

void TestCompruebaConexion::cursorIsNoneBeforeHourglassDuringOpenArrowAfter() {
    QFETCH(bool, abreBien);
    VentanaPrueba prueba;
    std::vector<std::optional<Qt::CursorShape>> duranteOpen;
    prueba.guion->alAbrir = [&](int) {
        duranteOpen.push_back(cursorAplicacion());
        if (!abreBien)
            throw data_access::ErrorConexion("fallo");
    };
    prueba.rellena("SRV01");
    QCOMPARE(cursorAplicacion(), std::nullopt);

    prueba.pulsaTest();

    QCOMPARE(duranteOpen.size(), std::size_t(2));
    QCOMPARE(duranteOpen.at(0), std::optional<Qt::CursorShape>(Qt::WaitCursor));
    QCOMPARE(duranteOpen.at(1), std::optional<Qt::CursorShape>(Qt::WaitCursor));
    QCOMPARE(cursorAplicacion(), std::optional<Qt::CursorShape>(Qt::ArrowCursor));
}

void TestCompruebaConexion::cursorOverrideNeverStacks() {
    VentanaPrueba prueba;
    prueba.guion->alAbrir = [](int numero) {
        if (numero % 3 == 0)
            throw data_access::ErrorConexion("fallo");
    };
    prueba.rellena("SRV01");
    for (int i = 0; i < 10; ++i)
        prueba.pulsaTest();

    QCOMPARE(cursorAplicacion(), std::optional<Qt::CursorShape>(Qt::ArrowCursor));
    QApplication::restoreOverrideCursor();
    QCOMPARE(cursorAplicacion(), std::nullopt);
}

QTEST_MAIN(TestCompruebaConexion)
#include "tst_compruebaConexion.moc"
