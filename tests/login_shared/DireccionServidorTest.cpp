#include "login_shared/DireccionServidor.h"
#include "data_access/Conexion.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

using namespace data_access;
using namespace login_shared;

namespace {

struct Forma {
    const char* escrito;
    const char* host;
    std::uint16_t puerto;
    const char* instancia;
};

class FormasDeServidor : public ::testing::TestWithParam<Forma> {};

} // namespace

TEST_P(FormasDeServidor, AreReadAsSqlServerUsersWriteThem) {
    const Forma& f = GetParam();
    DireccionServidor d = leeDireccionServidor(f.escrito);
    EXPECT_EQ(d.host, f.host);
    EXPECT_EQ(d.puerto, f.puerto);
    EXPECT_EQ(d.instancia, f.instancia);
}

INSTANTIATE_TEST_SUITE_P(
    Todas, FormasDeServidor,
    ::testing::Values(
        Forma{"SRV01", "SRV01", 0, ""}, Forma{"  SRV01  ", "SRV01", 0, ""},
        Forma{"srv.example.com,1533", "srv.example.com", 1533, ""}, Forma{"SRV01 , 1533", "SRV01", 1533, ""},
        Forma{"SRV01\\SQLEXPRESS", "SRV01", 0, "SQLEXPRESS"},
        Forma{"SRV01\\SQLEXPRESS,1600", "SRV01", 1600, "SQLEXPRESS"},
        Forma{"tcp:SRV01,1433", "SRV01", 1433, ""}, Forma{"TCP:10.1.2.3", "10.1.2.3", 0, ""},
        Forma{"(local)", "localhost", 0, ""}, Forma{".", "localhost", 0, ""},
        Forma{".\\SQLEXPRESS", "localhost", 0, "SQLEXPRESS"}, Forma{"localhost", "localhost", 0, ""},
        Forma{"127.0.0.1", "127.0.0.1", 0, ""}, Forma{"::1", "::1", 0, ""}, Forma{"[::1]", "::1", 0, ""},
        Forma{"[::1],14330", "::1", 14330, ""}, Forma{"fe80::1%eth0,1433", "fe80::1%eth0", 1433, ""},
        Forma{"host:1500", "host", 1500, ""}));

TEST(DireccionServidor, OtherTransportsSayOnlyTcpIsAvailable) {
    for (const char* escrito : {"np:\\\\SRV01\\pipe\\sql\\query", "lpc:SRV01", "admin:SRV01", "NP:SRV01"}) {
        SCOPED_TRACE(escrito);
        contiene(errorDe([&] { leeDireccionServidor(escrito); }), "solo está disponible TCP");
    }
}

TEST(DireccionServidor, EmptyBadPortsAndUnsafeNamesAreRefused) {
    for (const char* escrito : {"", "   ", "SRV01,", "SRV01,0", "SRV01,65536", "SRV01,14x", "SRV01\\",
                                "a]\nport = 1", "srv=1", "s r v", "SRV01;x"})
        EXPECT_THROW(leeDireccionServidor(escrito), ErrorConexion) << escrito;
}
