#include "probe/cadenaConexion.h"
#include "data_access/ConnectionString.h"
#include "tests/support/PruebasQt.h"

#include <QtTest>
#include <string>

// The one place where the composed connection string is checked: the other suites take it as given.
class CadenaConexion : public QObject {
    Q_OBJECT

private slots:
    void composesPlainValuesExactlyAndReadsEveryValueBackUnchanged_data();
    void composesPlainValuesExactlyAndReadsEveryValueBackUnchanged();
};

void CadenaConexion::composesPlainValuesExactlyAndReadsEveryValueBackUnchanged_data() {
    QTest::addColumn<QString>("servidor");
    QTest::addColumn<QString>("baseDatos");
    QTest::addColumn<QString>("usuario");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("exacta"); // empty: only read back

    struct Exacta {
        const char *caso, *servidor, *baseDatos, *usuario, *password, *cadena;
    };
    const Exacta exactas[] = {
        {"integrated security", "SRV01", "MASTER", "", "",
         "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;Integrated Security=SSPI;"},
        {"password ignored without user", "SRV01", "MASTER", "", "secreto",
         "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;Integrated Security=SSPI;"},
        {"sql login", "SRV01\\SQLEXPRESS", "Ventas", "sa", "Ab1",
         "Provider=SQLNCLI;Server=SRV01\\SQLEXPRESS;Database=Ventas;DataTypeCompatibility=80;"
         "User ID=sa;Password=Ab1;"},
        {"empty password kept", "SRV01", "MASTER", "sa", "",
         "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;User ID=sa;Password=;"},
        {"equals sign and inner blanks unquoted", "tcp:10.0.0.1,1433", "Mi Base", "dom\\juan pérez", "a=b c",
         "Provider=SQLNCLI;Server=tcp:10.0.0.1,1433;Database=Mi Base;DataTypeCompatibility=80;"
         "User ID=dom\\juan pérez;Password=a=b c;"},
        {"inner quotes unquoted", "SRV01", "MASTER", "o'neil", "x\"y'",
         "Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;"
         "User ID=o'neil;Password=x\"y';"},
    };
    for (const Exacta& e : exactas)
        QTest::newRow(e.caso) << e.servidor << e.baseDatos << e.usuario << e.password << e.cadena;

    // Each value in each place it can stand, the others plain.
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
    const QString plano = QStringLiteral("SRV01");
    for (const QString& v : valores) {
        QTest::newRow(qPrintable("Server [" + v + "]")) << v << plano << plano << plano << QString();
        QTest::newRow(qPrintable("Database [" + v + "]")) << plano << v << plano << plano << QString();
        QTest::newRow(qPrintable("Password [" + v + "]")) << plano << plano << plano << v << QString();
        if (!v.isEmpty())
            QTest::newRow(qPrintable("User ID [" + v + "]")) << plano << plano << v << QString() << QString();
    }
}

void CadenaConexion::composesPlainValuesExactlyAndReadsEveryValueBackUnchanged() {
    QFETCH(QString, servidor);
    QFETCH(QString, baseDatos);
    QFETCH(QString, usuario);
    QFETCH(QString, password);
    QFETCH(QString, exacta);

    const std::string cadena = probe::cadenaBase("SQLNCLI", servidor.toStdString(), baseDatos.toStdString()) +
                               probe::sufijoCredenciales(usuario.toStdString(), password.toStdString());
    if (!exacta.isEmpty())
        QCOMPARE(QString::fromStdString(cadena), exacta);

    const auto leida = data_access::ConnectionString::parse(cadena);
    const auto valor = [&leida](const char* clave) {
        return QString::fromStdString(leida.value(clave).value_or("<missing>"));
    };
    QCOMPARE(valor("Provider"), QString("SQLNCLI"));
    QCOMPARE(valor("Server"), servidor);
    QCOMPARE(valor("Database"), baseDatos);
    QCOMPARE(valor("DataTypeCompatibility"), QString("80"));
    if (usuario.isEmpty()) {
        QCOMPARE(valor("Integrated Security"), QString("SSPI"));
        QVERIFY(!leida.value("User ID") && !leida.value("Password"));
    } else {
        QCOMPARE(valor("User ID"), usuario);
        QCOMPARE(valor("Password"), password);
        QVERIFY(!leida.value("Integrated Security"));
    }
}

PRUEBA_QT(CadenaConexion)
#include "CadenaConexionTest.moc"
