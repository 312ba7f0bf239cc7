#include "data_access/Ajustes.h"
#include "data_access/Conexion.h"
#include "data_access/ConnectionString.h"
#include "login_shared/Proveedor.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>
#include <sybdb.h>

using namespace data_access;
using namespace login_shared;
using namespace std::chrono_literals;

namespace {
Ajustes lee(const std::string& texto) {
    return leeAjustes(ConnectionString::parse(texto), 15s);
}
} // namespace

TEST(Ajustes, TheWindowsStringsAreReadAsTyped) {
    auto a =
        lee("Provider=SQLNCLI;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;User ID=sa;Password=;");
    EXPECT_EQ(a.proveedor, "SQLNCLI");
    EXPECT_EQ(a.servidor, "SRV01");
    EXPECT_EQ(a.baseDatos, "MASTER");
    EXPECT_EQ(a.usuario, "sa");
    EXPECT_EQ(a.password.texto(), "");
    EXPECT_FALSE(a.seguridadIntegrada);
    EXPECT_EQ(a.tiempoEspera, std::chrono::milliseconds(15s));

    auto i = lee(
        "Provider=SQLNCLI10;Server=SRV01;Database=MASTER;DataTypeCompatibility=80;Integrated Security=SSPI;");
    EXPECT_TRUE(i.seguridadIntegrada);
}

TEST(Ajustes, CommonSynonymsAreUnderstood) {
    auto a =
        lee("Data Source=h\\i;Initial Catalog=db;UID=u;PWD=p;Trusted_Connection=yes;Connection Timeout=3");
    EXPECT_EQ(a.servidor, "h\\i");
    EXPECT_EQ(a.baseDatos, "db");
    EXPECT_EQ(a.usuario, "u");
    EXPECT_EQ(a.password.texto(), "p");
    EXPECT_TRUE(a.seguridadIntegrada);
    EXPECT_EQ(a.tiempoEspera, std::chrono::milliseconds(3s));
}

TEST(Ajustes, ConnectTimeoutZeroMeansNoLimitAndGarbageIsRefused) {
    EXPECT_FALSE(lee("Server=x;Connect Timeout=0").tiempoEspera.has_value());
    for (const char* malo : {"Server=x;Connect Timeout=abc", "Server=x;Connect Timeout=-1",
                             "Server=x;Connect Timeout=5s", "Server=x;Connect Timeout="})
        EXPECT_THROW(lee(malo), ErrorConexion) << malo;
}

TEST(Ajustes, AStringWithoutServerIsRefused) {
    contiene(errorDe([] { lee("Provider=SQLNCLI;Database=x"); }), "Server=");
}

TEST(Proveedor, EachGenerationSelectsItsTdsVersion) {
    EXPECT_EQ(buscaProveedor("SQLNCLI").versionDbLib, DBVERSION_72);
    EXPECT_EQ(buscaProveedor("sqlncli10").versionDbLib, DBVERSION_73);
    EXPECT_EQ(buscaProveedor("SQLNCLI10.1").versionDbLib, DBVERSION_73);
    // Today's drivers: TDS 7.4; only the newer encrypts everything and checks the certificate.
    for (const char* nombre : {"MSOLEDBSQL", "MSOLEDBSQL19"}) {
        SCOPED_TRACE(nombre);
        EXPECT_EQ(buscaProveedor(nombre).versionDbLib, DBVERSION_74);
        EXPECT_EQ(buscaProveedor(nombre).compruebaCertificado, std::string(nombre) == "MSOLEDBSQL19");
        EXPECT_EQ(buscaProveedor(nombre).cifradoObligatorio, std::string(nombre) == "MSOLEDBSQL19");
    }
}

TEST(Proveedor, OtherProvidersAreNotAvailable) {
    for (const char* nombre : {"SQLOLEDB", "MSOLEDBSQL20", "SQLNCLI11", ""}) {
        SCOPED_TRACE(nombre);
        const std::string texto = errorDe([&] { buscaProveedor(nombre); });
        contiene(texto, *nombre ? "no está disponible" : "no indica el proveedor");
        contiene(texto, "SQLNCLI10");
    }
}
