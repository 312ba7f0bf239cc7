// The stand-in seen through FreeTDS db-lib, the library the application itself uses.
#include "tests/stand_in/dblib_client.h"
#include "tests/stand_in/test_support.h"

namespace stand_in::testing {
namespace {

using namespace std::chrono_literals;

std::string endpoint(const Server& server) {
    return "127.0.0.1:" + std::to_string(server.port());
}

class DbLibTest : public StandInTest {};

TEST_F(DbLibTest, SuccessfulLoginLooksLikeSqlServer) {
    startServer();
    const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "ventas"});
    ASSERT_TRUE(outcome.connected);
    EXPECT_EQ(outcome.tds, DBTDS_7_3);
    EXPECT_EQ(outcome.database, "Ventas") << "the database as the server spells it";
    EXPECT_GE(outcome.spid, 51);
    EXPECT_TRUE(outcome.hasMessage(5701, 2, 0));
    EXPECT_TRUE(outcome.hasMessage(5703, 1, 0));
    EXPECT_TRUE(outcome.errors.empty());
    EXPECT_EQ(onlyLogin().applicationName, "stand_in_tests");
}

TEST_F(DbLibTest, AgreedVersionIsTheLowerOfClientAndServer) {
    Config config = standardConfig();
    config.maximumTdsVersion = tds_version::v7_2;
    startServer(config);
    EXPECT_EQ(dbLibLogin({endpoint(server()), DBVERSION_73}).tds, DBTDS_7_2);
    EXPECT_EQ(dbLibLogin({endpoint(server()), DBVERSION_72}).tds, DBTDS_7_2);
    // Older clients keep their own version and its narrower token layouts.
    EXPECT_EQ(dbLibLogin({endpoint(server()), DBVERSION_71}).tds, DBTDS_7_1);
}

TEST_F(DbLibTest, RefusedLoginsReportServerMessagesAndFail) {
    startServer();
    const DbLibOutcome wrong = dbLibLogin({endpoint(server()), DBVERSION_72, "sa", "wrong"});
    EXPECT_FALSE(wrong.connected);
    EXPECT_TRUE(wrong.hasMessage(18456, 1, 14));
    EXPECT_TRUE(wrong.hasError(20018));
    EXPECT_TRUE(wrong.hasError(20002));

    const DbLibOutcome noDatabase =
        dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "Compras"});
    EXPECT_FALSE(noDatabase.connected);
    ASSERT_EQ(noDatabase.messages.size(), 2u);
    EXPECT_EQ(noDatabase.messages[0].number, 4060);
    EXPECT_EQ(noDatabase.messages[0].severity, 11);
    EXPECT_EQ(noDatabase.messages[1].number, 18456);
}

TEST_F(DbLibTest, WindowsLoginIsRefusedAsUntrustedDomain) {
    startServer();
    const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_73, "CORP\\alice", "x"});
    EXPECT_FALSE(outcome.connected);
    EXPECT_TRUE(outcome.hasMessage(18452, 1, 14));
    const LoginRecord login = onlyLogin();
    EXPECT_TRUE(login.integrated);
    EXPECT_EQ(login.user, "");
}

TEST_F(DbLibTest, NtlmLoginEndsAsTheServerSaysAfterItsAuthenticate) {
    struct Case {
        Ntlm ntlm;
        std::set<std::string> accounts;
        Encryption encryption;
        bool connected;
        bool refused;   // 18456 seen
        int firstError; // the first db-lib error, 0 when none; after a reset it is the final 20002 itself
    };
    const Case cases[] = {
        {Ntlm::Accept, {}, Encryption::NotSupported, true, false, 0},
        {Ntlm::Accept, {"dominio\\USUARIO"}, Encryption::Required, true, false, 0},
        {Ntlm::Accept, {"DOMINIO\\otro"}, Encryption::LoginOnly, false, true, SYBESMSG},
        {Ntlm::Refuse, {}, Encryption::Required, false, true, SYBESMSG},
        {Ntlm::Hang, {}, Encryption::LoginOnly, false, false, SYBETIME},
        {Ntlm::Junk, {}, Encryption::Required, false, false, SYBEBTOK},
        {Ntlm::Close, {}, Encryption::NotSupported, false, false, SYBESEOF},
        {Ntlm::Reset, {}, Encryption::LoginOnly, false, false, SYBEFCON},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "ntlm " << static_cast<int>(c.ntlm) << ", encryption "
                                          << static_cast<int>(c.encryption));
        Config config = standardConfig();
        config.ntlm = c.ntlm;
        config.ntlmAccounts = c.accounts;
        config.encryption = c.encryption;
        startServer(config);
        const DbLibOutcome outcome =
            dbLibLogin({endpoint(server()), DBVERSION_74, "DOMINIO\\usuario", "Clave1!", "", 2});
        EXPECT_EQ(outcome.connected, c.connected) << ::testing::PrintToString(outcome.errors);
        EXPECT_EQ(outcome.hasMessage(18456, 1, 14), c.refused);
        EXPECT_EQ(outcome.errors.empty() ? 0 : outcome.errors.front(), c.firstError)
            << ::testing::PrintToString(outcome.errors);
        EXPECT_LT(outcome.elapsed, 8s);
        const auto authenticates = server().ntlmAuthenticates();
        ASSERT_EQ(authenticates.size(), 1u);
        EXPECT_EQ(authenticates[0].account, "DOMINIO\\usuario");
        EXPECT_EQ(authenticates[0].encrypted, c.encryption == Encryption::Required);
        server().stop();
    }
}

TEST_F(DbLibTest, NonAsciiPasswordArrivesIntact) {
    startServer();
    const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_72, "ana", unicodePassword});
    EXPECT_TRUE(outcome.connected);
    EXPECT_EQ(onlyLogin().password, unicodePassword);
}

TEST_F(DbLibTest, ListensOnIpv6Loopback) {
    Config config = standardConfig();
    config.address = "::1";
    startServer(config);
    const DbLibOutcome outcome = dbLibLogin({"[::1]:" + std::to_string(server().port())});
    EXPECT_TRUE(outcome.connected) << ::testing::PrintToString(outcome.errors);
    EXPECT_EQ(onlyLogin().serverName, "::1");
}

TEST_F(DbLibTest, EveryFaultEndsTheLoginPromptly) {
    // The cause db-lib reports before its final 20002 "connection failed" (a reset gets none).
    const std::pair<Fault, int> faults[] = {
        {Fault::NeverAnswerPrelogin, SYBETIME}, {Fault::NeverAnswerLogin, SYBETIME},
        {Fault::CloseAfterPrelogin, SYBESEOF},  {Fault::Garbage, SYBESEOF},
        {Fault::DelayLogin, SYBETIME},          {Fault::ResetAtOnce, 0},
        {Fault::TricklePrelogin, SYBETIME},
    };
    for (const auto& [fault, cause] : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        Config config = standardConfig();
        config.fault = fault;
        config.faultDelay = 3s;
        startServer(config);
        const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "", 1});
        EXPECT_FALSE(outcome.connected);
        ASSERT_FALSE(outcome.errors.empty());
        EXPECT_EQ(outcome.errors.back(), SYBEFCON) << ::testing::PrintToString(outcome.errors);
        if (cause) {
            EXPECT_EQ(outcome.errors.front(), cause) << ::testing::PrintToString(outcome.errors);
        }
        EXPECT_LT(outcome.elapsed, 8s);
        EXPECT_TRUE(server().waitAllClosed(5s));
        server().stop();
    }
}

TEST_F(DbLibTest, ShortDelayStillLogsIn) {
    Config config = standardConfig();
    config.fault = Fault::DelayLogin;
    config.faultDelay = 300ms;
    startServer(config);
    EXPECT_TRUE(dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "", 3}).connected);
}

TEST_F(DbLibTest, ReplyDelayHoldsBackEveryReplyOfTheLogin) {
    // In clear: the PRELOGIN reply and the login reply. Login in TLS: two handshake flights more.
    const std::pair<Encryption, int> cases[] = {{Encryption::NotSupported, 2}, {Encryption::LoginOnly, 4}};
    for (const auto& [encryption, replies] : cases) {
        SCOPED_TRACE(static_cast<int>(encryption));
        Config config = standardConfig();
        config.encryption = encryption;
        config.replyDelay = 150ms;
        startServer(config);
        const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "", 5});
        EXPECT_TRUE(outcome.connected) << ::testing::PrintToString(outcome.errors);
        EXPECT_GE(outcome.elapsed, replies * 150ms);
        server().stop();
    }
}

TEST_F(DbLibTest, TrickledPreloginReplyIsNoTimeoutForAPerReadTimer) {
    // db-lib's login timeout bounds each read, not the login: a reply that takes longer in total
    // but keeps arriving must still log in.
    Config config = standardConfig();
    config.fault = Fault::TricklePrelogin;
    config.faultDelay = 40ms;
    startServer(config);
    const DbLibOutcome outcome = dbLibLogin({endpoint(server()), DBVERSION_73, "sa", saPassword, "", 1});
    EXPECT_TRUE(outcome.connected) << ::testing::PrintToString(outcome.errors);
    // 8 header bytes and 35 of payload, each after the delay.
    EXPECT_GE(outcome.elapsed, 43 * 40ms);
    EXPECT_LT(outcome.elapsed, 43 * 40ms + 1s);
}

} // namespace
} // namespace stand_in::testing
