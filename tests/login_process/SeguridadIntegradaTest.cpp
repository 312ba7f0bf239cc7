// Integrated security against a real MIT KDC on loopback: a valid ticket
// logs in as its principal, and each way Kerberos fails in real networks is
// named, with what to do, within the open's timeout and before any LOGIN7.
#include "login_process/ServicioKerberos.h"
#include "tests/stand_in/blackhole_listener.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/kerberos/test_kdc.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace data_access;
using namespace login_shared;
using namespace login_process;
using kerberos_testing::KerberosEnvironment;
using kerberos_testing::TestKdc;

namespace {

class SeguridadIntegrada : public ::testing::Test {
protected:
    void SetUp() override {
        stand_in::Config c;
        c.keytab = kdc.keytab();
        servidor = std::make_unique<stand_in::Server>(c);
        servidor->start();
        spn = TestKdc::sqlServerPrincipal("127.0.0.1", servidor->port());
        kdc.addServicePrincipal(spn);
    }

    // Opens through `proveedor`; "" when it logged in, else the description.
    // A Kerberos failure must end within the timeout and before any LOGIN7.
    std::string abre(const std::string& proveedor = "SQLNCLI10") {
        ConexionFreeTds c;
        const Apertura r = intentaAbrir(c, cadena(servidorEn(servidor->port()),
                                                  "Integrated Security=SSPI;Connect Timeout=4;", proveedor));
        if (!r.abierta) {
            EXPECT_LT(r.duracion, std::chrono::milliseconds(4700)) << r.descripcion;
            EXPECT_TRUE(servidor->logins().empty()) << r.descripcion;
        }
        return r.descripcion;
    }

    TestKdc kdc;
    std::unique_ptr<stand_in::Server> servidor;
    std::string spn;
};

} // namespace

TEST_F(SeguridadIntegrada, AValidTicketLogsInAsItsPrincipalThroughBothGenerations) {
    KerberosEnvironment entorno(kdc);
    EXPECT_EQ(abre("SQLNCLI"), "");
    EXPECT_EQ(abre("SQLNCLI10"), "");
    const auto logins = servidor->logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[0].principal, kdc.userPrincipal());
    EXPECT_EQ(logins[1].principal, kdc.userPrincipal());
}

TEST_F(SeguridadIntegrada, AnSpnTheKdcDoesNotKnowIsNamed) {
    kdc.removePrincipal(spn);
    kdc.renewUserTicket();
    KerberosEnvironment entorno(kdc);
    const std::string texto = abre();
    contiene(texto, "el KDC no conoce el servicio " + spn + "@" + kdc.realm());
    contiene(texto, "setspn");
}

TEST_F(SeguridadIntegrada, AnUnreachableKdcIsNamed) {
    kdc.renewUserTicket(); // no service ticket cached from an earlier login
    KerberosEnvironment entorno(kdc);
    kdc.stop();
    contiene(abre(), "no se puede contactar con ningún KDC del dominio Kerberos «TARPELINO.TEST»");
}

TEST_F(SeguridadIntegrada, ATicketOfAnotherRealmIsNamed) {
    TestKdc otro("OTRO.TEST");
    kdc.knowRealm(otro);
    KerberosEnvironment entorno(kdc, kdc.configFile(), otro.credentialCache());
    const std::string texto = abre();
    contiene(texto, "su ticket es de ana@OTRO.TEST");
    contiene(texto, "kinit");
}

TEST_F(SeguridadIntegrada, AnExpiredTicketIsNamed) {
    kdc.expireUserTicket();
    KerberosEnvironment entorno(kdc);
    const std::string texto = abre();
    contiene(texto, "caducado");
    contiene(texto, "kinit");
}

// Kerberos retries a KDC that never answers for half a minute; the ticket
// check gives up at the open's deadline on its own, before anything else
// would end the login.
TEST_F(SeguridadIntegrada, AKdcThatNeverAnswersIsGivenUpAtTheDeadline) {
    kdc.renewUserTicket();
    // The KDC's address taken by a socket that reads nothing and answers nothing.
    kdc.stop();
    const int mudo = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kdc.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(mudo, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    stand_in::BlackholeListener tcpMudo("127.0.0.1", kdc.port());
    tcpMudo.start();
    KerberosEnvironment entorno(kdc);

    const Plazo plazo(std::chrono::milliseconds(1000));
    const auto motivo = faltaTicketDeServicio(spn, plazo, "127.0.0.1, puerto 1433");
    EXPECT_LT(plazo.transcurrido(), std::chrono::milliseconds(1400));
    ASSERT_TRUE(motivo.has_value());
    contiene(motivo->what(), "esperando al servidor de Kerberos (KDC)");
    EXPECT_EQ(motivo->causa(), Causa::Tiempo);

    // Through the whole open, in both generations.
    contiene(abre("SQLNCLI"), "esperando al servidor de Kerberos (KDC)");
    contiene(abre("SQLNCLI10"), "esperando al servidor de Kerberos (KDC)");
    ::close(mudo);
}
