// The stand-in seen through tedious, the Node.js TDS client, with Node's own TLS stack.
#include "tests/stand_in/tedious_client.h"
#include "tests/stand_in/test_support.h"

#include <cstdlib>

namespace stand_in::testing {
namespace {

struct TediousLogin {
    TediousLogin(std::string version_, std::string user_, std::string password_, std::string database_ = "",
                 bool encrypt_ = false)
        : version(std::move(version_)), user(std::move(user_)), password(std::move(password_)),
          database(std::move(database_)), encrypt(encrypt_) {}

    std::string version; // tedious' tdsVersion: "7_2", "7_3_B"
    std::string user;
    std::string password;
    std::string database;
    bool encrypt;        // encrypt:true, trusting the self-signed certificate
    bool strict = false; // encrypt:'strict' (TDS 8.0)
};

// The script's one JSON line, e.g. {"connected":true,"tdsVersion":"7_2","database":"master",...}.
std::string runTedious(std::uint16_t port, const TediousLogin& login) {
    std::vector<std::string> argv = {NODE_PROGRAM, TEDIOUS_LOGIN_SCRIPT, "--port",     std::to_string(port),
                                     "--user",     login.user,           "--password", login.password,
                                     "--database", login.database,       "--tds",      login.version};
    if (login.encrypt)
        argv.push_back("--encrypt");
    if (login.strict)
        argv.push_back("--strict");
    const ProcessResult result = runProcess(argv, {}, "", std::chrono::seconds(15));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output;
}

class TediousTest : public StandInTest {
protected:
    void SetUp() override {
        // Installed by scripts/install-deps.sh test. Where npm could not reach its registry the
        // checks are skipped and say so; in CI they must run.
        if (!tediousInstalled()) {
            if (std::getenv("CI"))
                FAIL() << "tedious missing: run scripts/install-deps.sh test";
            GTEST_SKIP() << "tedious is not installed (npm could not reach its registry): "
                            "these checks of the stand-in against a second TDS client do not run";
        }
    }
};

TEST_F(TediousTest, LogsInAt72And73InClearAndRecordsTheVersion) {
    Config config = standardConfig();
    startServer(config);
    EXPECT_EQ(runTedious(server().port(), {"7_2", "sa", saPassword, "ventas"}),
              R"({"connected":true,"tdsVersion":"7_2","database":"Ventas","messages":[],"error":null})"
              "\n");
    EXPECT_EQ(runTedious(server().port(), {"7_3_B", "sa", saPassword}),
              R"({"connected":true,"tdsVersion":"7_3_B","database":"master","messages":[],"error":null})"
              "\n");
    const auto received = server().logins();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].tdsVersion, tds_version::v7_2);
    EXPECT_EQ(received[1].tdsVersion, tds_version::v7_3B);
    EXPECT_FALSE(received[0].encrypted);
    EXPECT_FALSE(received[1].encrypted);

    // A 2005 server acknowledges 7.2 to a 7.3 client, and tedious carries on in 7.2.
    config.maximumTdsVersion = tds_version::v7_2;
    server().setConfig(config);
    EXPECT_EQ(runTedious(server().port(), {"7_3_B", "sa", saPassword}),
              R"({"connected":true,"tdsVersion":"7_2","database":"master","messages":[],"error":null})"
              "\n");
}

TEST_F(TediousTest, EncryptsTheWholeSessionWhenTheServerForcesIt) {
    Config config = standardConfig();
    config.encryption = Encryption::Required;
    startServer(config);
    EXPECT_EQ(runTedious(server().port(), {"7_2", "sa", saPassword, "", true}),
              R"({"connected":true,"tdsVersion":"7_2","database":"master","messages":[],"error":null})"
              "\n");
    EXPECT_EQ(runTedious(server().port(), {"7_3_B", "sa", saPassword, "Ventas", true}),
              R"({"connected":true,"tdsVersion":"7_3_B","database":"Ventas","messages":[],"error":null})"
              "\n");
    const auto received = server().logins();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[0].encrypted);
    EXPECT_TRUE(received[1].encrypted);
}

TEST_F(TediousTest, RefusalsArriveAsServerErrors) {
    startServer();
    EXPECT_EQ(runTedious(server().port(), {"7_3_B", "sa", "wrong"}),
              R"({"connected":false,"tdsVersion":null,"database":null,"messages":[)"
              R"({"number":18456,"state":1,"class":14,"message":"Login failed for user 'sa'."}],)"
              R"("error":"ELOGIN"})"
              "\n");
    // tedious retries logins that fail with a transient error such as 4060 alone; a real server
    // follows it with 18456, so there is exactly one attempt.
    EXPECT_EQ(runTedious(server().port(), {"7_2", "sa", saPassword, "Compras"}),
              R"({"connected":false,"tdsVersion":null,"database":null,"messages":[)"
              R"({"number":4060,"state":1,"class":11,)"
              R"("message":"Cannot open database \"Compras\" requested by the login. The login failed."},)"
              R"({"number":18456,"state":1,"class":14,"message":"Login failed for user 'sa'."}],)"
              R"("error":"ELOGIN"})"
              "\n");
    EXPECT_EQ(server().logins().size(), 2u);
}

TEST_F(TediousTest, LogsInWithStrictEncryptionAndIsTurnedAwayWithAPreloginInClear) {
    Config config = standardConfig();
    config.encryption = Encryption::Strict;
    startServer(config);
    TediousLogin strict{"7_4", "sa", saPassword};
    strict.strict = true;
    EXPECT_EQ(runTedious(server().port(), strict),
              R"({"connected":true,"tdsVersion":"7_4","database":"master","messages":[],"error":null})"
              "\n");
    const auto handshakes = server().tlsHandshakes();
    ASSERT_EQ(handshakes.size(), 1u);
    EXPECT_EQ(handshakes[0].alpn, "tds/8.0");
    EXPECT_EQ(handshakes[0].negotiated, 0x0303);
    ASSERT_EQ(server().logins().size(), 1u);
    EXPECT_TRUE(server().logins()[0].encrypted);

    // The same client without strict sends its PRELOGIN in clear: the connection is closed on it.
    const std::string clear = runTedious(server().port(), {"7_4", "sa", saPassword, "", true});
    EXPECT_NE(clear.find(R"("connected":false)"), std::string::npos) << clear;
    EXPECT_EQ(server().logins().size(), 1u);
}

} // namespace
} // namespace stand_in::testing
