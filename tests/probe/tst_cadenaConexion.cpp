#include "data_access/ConnectionString.h"
#include "probe/cadenaConexion.h"

#include <QtTest>
#include <string>

using probe::cadenaBase;
using probe::sufijoCredenciales;

class TestCadenaConexion : public QObject {
    Q_OBJECT

private slots:
    void plainValuesComposeByteForByte_data();
    void plainValuesComposeByteForByte();
    void everyTypedValueReachesTheParserUnchanged_data();
    void everyTypedValueReachesTheParserUnchanged();
};

void TestCadenaConexion::plainValuesComposeByteForByte_data() {
    QTest::addColumn<QString>("servidor");
    QTest::addColumn<QString>("baseDatos");
    QTest::addColumn<QString>("usuario");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("esperada");

    QTest::newRow("integrated security") << "SRV01"
                                         << "MASTER"
                                         << ""
                                         << ""
                                         << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;"
                                            "DataTypeCompatibility=80;Integrated Security=SSPI;";
    QTest::newRow("password ignored without user")
        << "SRV01"
        << "MASTER"
        << ""
        << "secreto"
        << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;Integrated Security=SSPI;";
    QTest::newRow("sql login") << "SRV01\\SQLEXPRESS"
                               << "Ventas"
                               << "sa"
                               << "Ab1"
                               << "Provider=SQLNCLI;Server=SRV01\\SQLEXPRESS;Database=Ventas;"
                                  "DataTypeCompatibility=80;User ID=sa;Password=Ab1;";
    QTest::newRow("empty password kept")
        << "SRV01"
        << "MASTER"
        << "sa"
        << ""
        << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;User ID=sa;Password=;";
    QTest::newRow("equals sign and inner blanks unquoted")
        << "tcp:10.0.0.1,1433"
        << "Mi Base"
        << "dom\\juan pérez"
        << "a=b c"
        << "Provider=SQLNCLI;Server=tcp:10.0.0.1,1433;Database=Mi Base;DataTypeCompatibility=80;"
           "User ID=dom\\juan pérez;Password=a=b c;";
    QTest::newRow("inner quotes unquoted") << "SRV01"
                                           << "MASTER"
                                           << "o'neil"
                                           << "x\"y'"
                                           << "Provider=SQLNCLI;Server=SRV01;Database=MASTER;"
                                              "DataTypeCompatibility=80;User ID=o'neil;Password=x\"y';";
}

void TestCadenaConexion::plainValuesComposeByteForByte() {
    QFETCH(QString, servidor);
    QFETCH(QString, baseDatos);
    QFETCH(QString, usuario);
    QFETCH(QString, password);
    QFETCH(QString, esperada);

    const std::string compuesta = cadenaBase("SQLNCLI", servidor.toStdString(), baseDatos.toStdString()) +
                                  sufijoCredenciales(usuario.toStdString(), password.toStdString());
    QCOMPARE(QString::fromStdString(compuesta), esperada);
}

void TestCadenaConexion::everyTypedValueReachesTheParserUnchanged_data() {
    QTest::addColumn<QString>("valor");

    const QStringList valores = {
        "",           "Ab;1",
        ";",          ";;",
        "a;b;c",      "=",
        "a=b",        "==x==",
        "\"",         "\"abc",
        "ab\"c",      "abc\"",
        "\"\"",       "\"a\"",
        "'",          "'abc",
        "ab'c",       "abc'",
        "'a'",        "'\"mixed\"'",
        "\"';\"",     " ",
        "   ",        " lead",
        "trail ",     " both ",
        "in side",    "\tTab",
        "tab\t",      "\nline",
        "ñandú",      "canción",
        "€100",       "😀🔑",
        " ñ; ó€=😀 ",  "Password=x",
        "User ID=y;", "; Integrated Security=SSPI",
        "{braces}",   "\\back\\slash",
    };
    for (const QString& valor : valores)
        QTest::newRow(qPrintable("[" + valor + "]")) << valor;
}

void TestCadenaConexion::everyTypedValueReachesTheParserUnchanged() {
    QFETCH(QString, valor);
    const std::string typed = valor.toStdString();

    // Each value in each place it can stand, the others plain.
    struct Caso {
        std::string servidor, baseDatos, usuario, password;
    };
    const std::string usuarioPlano = "sa";
    const Caso casos[] = {
        {typed, "MASTER", usuarioPlano, "x"},
        {"SRV01", typed, usuarioPlano, "x"},
        {"SRV01", "MASTER", usuarioPlano, typed},
    };
    for (const Caso& caso : casos) {
        const std::string cadena = cadenaBase("SQLNCLI10", caso.servidor, caso.baseDatos) +
                                   sufijoCredenciales(caso.usuario, caso.password);
        const auto analizada = data_access::ConnectionString::parse(cadena);
        QCOMPARE(analizada.value("Provider").value_or("<missing>"), std::string("SQLNCLI10"));
        QCOMPARE(analizada.value("Server").value_or("<missing>"), caso.servidor);
        QCOMPARE(analizada.value("Database").value_or("<missing>"), caso.baseDatos);
        QCOMPARE(analizada.value("User ID").value_or("<missing>"), caso.usuario);
        QCOMPARE(analizada.value("Password").value_or("<missing>"), caso.password);
        QCOMPARE(analizada.value("DataTypeCompatibility").value_or("<missing>"), std::string("80"));
        QVERIFY(!analizada.value("Integrated Security"));
    }

    if (!typed.empty()) {
        const auto soloUsuario = data_access::ConnectionString::parse(
            cadenaBase("SQLNCLI", "SRV01", "MASTER") + sufijoCredenciales(typed, ""));
        QCOMPARE(soloUsuario.value("User ID").value_or("<missing>"), typed);
        QCOMPARE(soloUsuario.value("Password").value_or("<missing>"), std::string());
        QVERIFY(!soloUsuario.value("Integrated Security"));
    }
}

QTEST_APPLESS_MAIN(TestCadenaConexion)
#include "tst_cadenaConexion.moc"
