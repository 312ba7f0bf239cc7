// The stand-in seen through FreeTDS's tsql, a client that is not ours.
#include "tests/stand_in/test_support.h"

namespace stand_in::testing {
namespace {

using namespace std::chrono_literals;

class TsqlTest : public StandInTest {};

TEST_F(TsqlTest, LogsInAtTds72And73AndRecordsWhatWasSent) {
    startServer();
    const std::pair<const char*, std::uint32_t> versions[] = {{"7.2", tds_version::v7_2},
                                                              {"7.3", tds_version::v7_3B}};
    for (const auto& [name, wire] : versions) {
        SCOPED_TRACE(name);
        server().clearLogins();
        const ProcessResult result = runTsql(server().port(), {name, "sa", saPassword, "ventas"});
        EXPECT_TRUE(tsqlLoggedIn(result)) << result.output;
        const LoginRecord login = onlyLogin();
        EXPECT_EQ(login.tdsVersion, wire);
        EXPECT_EQ(login.user, "sa");
        EXPECT_EQ(login.password, saPassword);
        EXPECT_EQ(login.database, "ventas");
        EXPECT_EQ(login.serverName, "127.0.0.1");
        EXPECT_FALSE(login.encrypted);
        EXPECT_FALSE(login.integrated);
    }
}

TEST_F(TsqlTest, WrongPasswordOrUnknownLoginGets18456) {
    startServer();
    for (const TsqlLogin& attempt :
         {TsqlLogin{"7.3", "sa", "secr3t!", ""}, TsqlLogin{"7.2", "nadie", "x", ""}}) {
        SCOPED_TRACE(attempt.user);
        const ProcessResult result = runTsql(server().port(), attempt);
        EXPECT_FALSE(tsqlLoggedIn(result)) << result.output;
        EXPECT_NE(result.output.find("Msg 18456 (severity 14, state 1) from STANDIN"), std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find("Login failed for user '" + attempt.user + "'."), std::string::npos);
        EXPECT_EQ(result.output.find("Msg 4060"), std::string::npos);
    }
}

TEST_F(TsqlTest, LoginNameIgnoresCaseButPasswordDoesNot) {
    startServer();
    EXPECT_TRUE(tsqlLoggedIn(runTsql(server().port(), {"7.3", "SA", saPassword, "VENTAS"})));
    EXPECT_FALSE(tsqlLoggedIn(runTsql(server().port(), {"7.3", "sa", "SECR3T!", ""})));
}

TEST_F(TsqlTest, MissingDatabaseGets4060Then18456) {
    startServer();
    const ProcessResult result = runTsql(server().port(), {"7.3", "sa", saPassword, "Compras"});
    EXPECT_FALSE(tsqlLoggedIn(result));
    const auto cannotOpen = result.output.find("Msg 4060 (severity 11, state 1) from STANDIN Line "
                                               "1:\n\t\"Cannot open database \"Compras\" requested "
                                               "by the login. The login failed.\"");
    const auto loginFailed = result.output.find("Msg 18456 (severity 14, state 1)");
    ASSERT_NE(cannotOpen, std::string::npos) << result.output;
    ASSERT_NE(loginFailed, std::string::npos) << result.output;
    EXPECT_LT(cannotOpen, loginFailed);
}

TEST_F(TsqlTest, MinimumVersionRefuses72ButAccepts73) {
    Config config = standardConfig();
    config.minimumTdsVersion = tds_version::v7_3A;
    startServer(config);

    const ProcessResult old = runTsql(server().port(), {"7.2", "sa", saPassword, ""});
    EXPECT_FALSE(tsqlLoggedIn(old)) << old.output;
    EXPECT_EQ(old.output.find("Msg "), std::string::npos) << "refused without a server message";
    EXPECT_TRUE(tsqlLoggedIn(runTsql(server().port(), {"7.3", "sa", saPassword, ""})));
    EXPECT_EQ(server().logins().size(), 2u);
}

TEST_F(TsqlTest, EncryptsLoginOnlyOrWholeSessionAsConfigured) {
    for (const Encryption encryption : {Encryption::LoginOnly, Encryption::Required}) {
        SCOPED_TRACE(static_cast<int>(encryption));
        Config config = standardConfig();
        config.encryption = encryption;
        startServer(config);
        for (const char* version : {"7.2", "7.3"}) {
            const ProcessResult result = runTsql(server().port(), {version, "sa", saPassword, "Ventas"});
            EXPECT_TRUE(tsqlLoggedIn(result)) << result.output;
        }
        const ProcessResult refused = runTsql(server().port(), {"7.3", "sa", "wrong", ""});
        EXPECT_NE(refused.output.find("Msg 18456"), std::string::npos) << refused.output;
        const auto received = server().logins();
        ASSERT_EQ(received.size(), 3u);
        for (const LoginRecord& login : received)
            EXPECT_TRUE(login.encrypted);
        EXPECT_EQ(received[0].password, saPassword);
        server().stop();
    }
}

TEST_F(TsqlTest, ConnectionsAreCountedClosedAfterTheClientLeaves) {
    startServer();
    runTsql(server().port(), {"7.3", "sa", saPassword, ""});
    runTsql(server().port(), {"7.3", "sa", "wrong", ""});
    EXPECT_TRUE(server().waitAllClosed(5s));
    EXPECT_EQ(server().connectionsAccepted(), 2);
    EXPECT_EQ(server().connectionsClosed(), 2);
}

} // namespace
} // namespace stand_in::testing
