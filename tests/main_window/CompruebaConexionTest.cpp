#include "probe/cadenaConexion.h"
#include "tests/support/ConexionFalsa.h"
#include "tests/support/PruebasQt.h"

#include <QApplication>
#include <QCursor>
#include <QtTest>
#include <optional>

namespace {

std::optional<Qt::CursorShape> cursorAplicacion() {
    if (const QCursor* cursor = QApplication::overrideCursor())
        return cursor->shape();
    return std::nullopt;
}

} // namespace

class CompruebaConexion : public QObject {
    Q_OBJECT

private slots:
    void emptyServerShowsTheBoxOncePerPassAndConnectsNothing();
    void eachPassSetsReadsBackAppendsAndOpensAsTypedThenClosesOrJustReleases();
    void cursorIsNoneBeforeHourglassDuringOpenArrowAfterAndNeverStacks_data();
    void cursorIsNoneBeforeHourglassDuringOpenArrowAfterAndNeverStacks();
};

void CompruebaConexion::emptyServerShowsTheBoxOncePerPassAndConnectsNothing() {
    VentanaConFalsas prueba;
    prueba.rellena("", "sa", "pw", "Ventas");
    prueba.errores("txtErr2005")->setPlainText("anterior");
    std::optional<Qt::CursorShape> cursorConCaja = Qt::BusyCursor;
    prueba.mensajes.mientrasSeMuestra = [&] { cursorConCaja = cursorAplicacion(); };

    prueba.pulsaTest();

    QCOMPARE(prueba.mensajes.vistos.size(), 2);
    for (const auto& mensaje : prueba.mensajes.vistos)
        compruebaMensajeCritico(mensaje, "Imposible conectar con Servidor SQL Server: Indique Servidor.");
    QCOMPARE(cursorConCaja, std::nullopt);
    QCOMPARE(cursorAplicacion(), std::nullopt);
    QCOMPARE(prueba.guion->creadas, 0);
    // The error text was never set, so both boxes get the click's empty one.
    for (int pasada : {0, 1}) {
        prueba.compruebaResultado(pasada, false);
        QCOMPARE(prueba.textoError(pasada), QString());
    }
}

// Blanks are values like any other: a server of blanks is tried, and nothing is trimmed.
void CompruebaConexion::eachPassSetsReadsBackAppendsAndOpensAsTypedThenClosesOrJustReleases() {
    VentanaConFalsas prueba;
    const std::string leida = "Application Name=Leida;";
    prueba.guion->alLeer = [&](const std::string& cadena) { return cadena + leida; };
    prueba.guion->alAbrir = [](int numero) {
        if (numero == 1)
            throw login_shared::ErrorConexion("no");
    };
    prueba.rellena("   ", " sa ", " p;w ñ€😀", " Ventas ");

    prueba.pulsaTest();

    std::vector<std::string> esperadas;
    for (const char* proveedor : {"SQLNCLI", "SQLNCLI10"}) {
        const std::string base = probe::cadenaBase(proveedor, "   ", " Ventas ");
        // The credentials go after what the object gave back, not after what was set.
        const std::string completa = base + leida + probe::sufijoCredenciales(" sa ", " p;w ñ€😀");
        esperadas.insert(esperadas.end(), {"set:" + base, "get", "set:" + completa, "open"});
    }
    // Pass 1 connected: closed, then released. Pass 2 failed: released unclosed.
    esperadas.insert(esperadas.begin() + 4, {"close", "release"});
    esperadas.push_back("release");
    QCOMPARE(prueba.guion->llamadas, esperadas);
    QCOMPARE(prueba.guion->creadas, 2);
    QCOMPARE(prueba.mensajes.vistos.size(), 0);
}

void CompruebaConexion::cursorIsNoneBeforeHourglassDuringOpenArrowAfterAndNeverStacks_data() {
    QTest::addColumn<bool>("abreBien");
    QTest::newRow("open succeeds") << true;
    QTest::newRow("open fails") << false;
}

void CompruebaConexion::cursorIsNoneBeforeHourglassDuringOpenArrowAfterAndNeverStacks() {
    QFETCH(bool, abreBien);
    VentanaConFalsas prueba;
    std::vector<std::optional<Qt::CursorShape>> duranteOpen;
    prueba.guion->alAbrir = [&](int) {
        duranteOpen.push_back(cursorAplicacion());
        if (!abreBien)
            throw login_shared::ErrorConexion("fallo");
    };
    prueba.rellena("SRV01");
    QCOMPARE(cursorAplicacion(), std::nullopt);

    prueba.pulsaTest();

    const std::vector<std::optional<Qt::CursorShape>> reloj(2, Qt::WaitCursor);
    QCOMPARE(duranteOpen, reloj);
    QCOMPARE(cursorAplicacion(), std::optional<Qt::CursorShape>(Qt::ArrowCursor));
    // One setting, not a stack: a single restore takes it off after both probes.
    QApplication::restoreOverrideCursor();
    QCOMPARE(cursorAplicacion(), std::nullopt);
}

PRUEBA_QT(CompruebaConexion)
#include "CompruebaConexionTest.moc"
