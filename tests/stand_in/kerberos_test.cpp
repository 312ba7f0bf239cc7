// Integrated logins verified for real: FreeTDS db-lib gets a ticket from an MIT KDC on loopback and
// the stand-in checks it with the service principal's keytab.
#include "tests/stand_in/dblib_client.h"
#include "tests/stand_in/test_support.h"
#include "tests/support/kerberos/test_kdc.h"

namespace stand_in::testing {
namespace {

using kerberos_testing::KerberosEnvironment;
using kerberos_testing::TestKdc;

class KerberosTest : public StandInTest {
protected:
    // A server whose keytab holds `servicePrincipal`; "" means the SPN FreeTDS asks for 127.0.0.1.
    void startKerberizedServer(std::string servicePrincipal = "") {
        Config config = standardConfig();
        config.keytab = kdc_.keytab();
        startServer(config);
        if (servicePrincipal.empty())
            servicePrincipal = TestKdc::sqlServerPrincipal("127.0.0.1", server().port());
        kdc_.addServicePrincipal(servicePrincipal);
    }

    DbLibOutcome integratedLogin(const std::string& user = "", const std::string& password = "") {
        return dbLibLogin({"127.0.0.1:" + std::to_string(server().port()), DBVERSION_74, user, password});
    }

    TestKdc kdc_;
};

TEST_F(KerberosTest, TicketHolderLogsInAsHerPrincipal) {
    startKerberizedServer();
    KerberosEnvironment environment(kdc_);
    const DbLibOutcome outcome = integratedLogin();
    const LoginRecord login = onlyLogin();
    // Success also means FreeTDS accepted the AP-REP: a reply its GSSAPI context rejects fails the login.
    ASSERT_TRUE(outcome.connected) << login.tokenError;
    EXPECT_TRUE(login.integrated);
    EXPECT_EQ(login.user, "");
    EXPECT_EQ(login.principal, "ana@TARPELINO.TEST");
    EXPECT_EQ(outcome.database, "master");
}

TEST_F(KerberosTest, TicketForAnotherServiceIsFromAnUntrustedDomain) {
    // The KDC knows the SPN the client asks for, but this server's keytab holds only another one.
    startKerberizedServer(TestKdc::sqlServerPrincipal("sql.tarpelino.test", 1433));
    kdc_.addServicePrincipal(TestKdc::sqlServerPrincipal("127.0.0.1", server().port()), false);
    KerberosEnvironment environment(kdc_);
    const DbLibOutcome outcome = integratedLogin();
    EXPECT_FALSE(outcome.connected);
    EXPECT_TRUE(outcome.hasMessage(18452, 1, 14));
    const LoginRecord login = onlyLogin();
    EXPECT_EQ(login.principal, "");
    EXPECT_NE(login.tokenError, "");
}

TEST_F(KerberosTest, NtlmLoginIsStillRefusedWhenKerberosIsAccepted) {
    startKerberizedServer();
    KerberosEnvironment environment(kdc_);
    const DbLibOutcome outcome = integratedLogin("CORP\\alice", "x");
    EXPECT_FALSE(outcome.connected);
    EXPECT_TRUE(outcome.hasMessage(18452, 1, 14));
    const LoginRecord login = onlyLogin();
    EXPECT_EQ(login.principal, "");
    EXPECT_EQ(login.tokenError, "") << "an NTLM message is not even offered to GSSAPI";
}

TEST_F(KerberosTest, BrokenKerberosStopsFreeTdsBeforeTheLogin) {
    // Each of these fails inside gss_init_sec_context, so db-lib reports only 20002 and the
    // server never sees a LOGIN7: the diagnosis has to come from the client side.
    startKerberizedServer();
    auto expectNoLogin = [&](const char* what) {
        const DbLibOutcome outcome = integratedLogin();
        EXPECT_FALSE(outcome.connected) << what;
        EXPECT_TRUE(outcome.hasError(20002)) << what;
        EXPECT_TRUE(server().logins().empty()) << what;
    };
    TestKdc otherRealm("OTHER.TEST");
    {
        KerberosEnvironment environment(kdc_, kdc_.configFile(), otherRealm.credentialCache());
        expectNoLogin("ticket of a realm the configuration does not list");
    }
    KerberosEnvironment environment(kdc_);
    kdc_.removePrincipal(TestKdc::sqlServerPrincipal("127.0.0.1", server().port()));
    expectNoLogin("no such service principal");
    kdc_.expireUserTicket();
    expectNoLogin("expired ticket");
    kdc_.renewUserTicket();
    kdc_.stop();
    expectNoLogin("KDC unreachable");
}

} // namespace
} // namespace stand_in::testing
