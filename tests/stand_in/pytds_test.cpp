// The stand-in seen through pytds, a pure-Python TDS client with its own TLS (pyOpenSSL).
#include "tests/stand_in/test_support.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace stand_in::testing {
namespace {

struct PytdsLogin {
    PytdsLogin(std::string version_, std::string user_, std::string password_, std::string database_ = "",
               std::string cafile_ = "", bool loginOnly_ = false)
        : version(std::move(version_)), user(std::move(user_)), password(std::move(password_)),
          database(std::move(database_)), cafile(std::move(cafile_)), loginOnly(loginOnly_) {}

    std::string version;
    std::string user;
    std::string password;
    std::string database;
    std::string cafile; // trusted certificate; given, pytds asks for encryption
    bool loginOnly;
};

// One line: "OK <LOGINACK version> <database>" or "ERROR <number> <all messages>".
std::string runPytds(std::uint16_t port, const PytdsLogin& login) {
    std::vector<std::string> argv = {SYSTEM_PYTHON3, PYTDS_LOGIN_SCRIPT, "--port",     std::to_string(port),
                                     "--user",       login.user,         "--password", login.password,
                                     "--database",   login.database,     "--tds",      login.version};
    if (!login.cafile.empty()) {
        argv.insert(argv.end(), {"--cafile", login.cafile});
        if (login.loginOnly)
            argv.push_back("--login-only");
    }
    const ProcessResult result = runProcess(argv, {}, "", std::chrono::seconds(15));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output;
}

class PytdsTest : public StandInTest {
protected:
    // pytds only encrypts when given a CA file, and verifies the server certificate against it.
    std::string writeCertificate() {
        char path[] = "/tmp/stand_in_ca_XXXXXX";
        const int fd = ::mkstemp(path);
        EXPECT_GE(fd, 0);
        ::close(fd);
        std::ofstream(path) << server().certificatePem();
        certificateFile_ = path;
        return certificateFile_;
    }

    void TearDown() override {
        StandInTest::TearDown();
        if (!certificateFile_.empty())
            std::remove(certificateFile_.c_str());
    }

private:
    std::string certificateFile_;
};

TEST_F(PytdsTest, LoginAckCarriesTheAgreedVersion) {
    startServer();
    EXPECT_EQ(runPytds(server().port(), {"7.2", "sa", saPassword, "ventas"}), "OK 72090002 Ventas\n");
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", saPassword, ""}), "OK 730b0003 master\n");

    Config capped = standardConfig();
    capped.maximumTdsVersion = tds_version::v7_2;
    server().setConfig(capped);
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", saPassword, ""}), "OK 72090002 master\n");
}

TEST_F(PytdsTest, RefusalsCarryTheServerMessages) {
    startServer();
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", "nope", ""}),
              "ERROR 18456 Login failed for user 'sa'.\n");
    EXPECT_EQ(runPytds(server().port(), {"7.2", "sa", saPassword, "Compras"}),
              "ERROR 18456 Cannot open database \"Compras\" requested by the login. The login failed. "
              "Login failed for user 'sa'.\n");
}

TEST_F(PytdsTest, NonAsciiPasswordArrivesIntact) {
    // pytds 1.11 writes the password length in code points, not UTF-16 units, so a character outside
    // the BMP would cut the password short on a real server too; this one stays inside it.
    const std::string password = "ñó€;\"'";
    Config config = standardConfig();
    config.logins["José"] = password;
    startServer(config);
    EXPECT_EQ(runPytds(server().port(), {"7.3", "josé", password, ""}), "OK 730b0003 master\n");
    EXPECT_EQ(onlyLogin().password, password);
    EXPECT_EQ(onlyLogin().user, "josé");
}

TEST_F(PytdsTest, EncryptsWithTls) {
    Config config = standardConfig();
    config.encryption = Encryption::LoginOnly;
    startServer(config);
    const std::string cafile = writeCertificate();
    // pytds asks ENCRYPT_OFF for "login only", ENCRYPT_ON otherwise; the server echoes either.
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", saPassword, "", cafile, true}), "OK 730b0003 master\n");
    EXPECT_EQ(runPytds(server().port(), {"7.2", "sa", saPassword, "", cafile, false}),
              "OK 72090002 master\n");

    config.encryption = Encryption::Required;
    server().setConfig(config);
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", saPassword, "", cafile, false}),
              "OK 730b0003 master\n");
    // Without a CA file pytds declares no TLS support, which a forcing server cannot accept.
    EXPECT_EQ(runPytds(server().port(), {"7.3", "sa", saPassword, ""}).rfind("ERROR", 0), 0u);

    const auto received = server().logins();
    ASSERT_EQ(received.size(), 3u);
    for (const LoginRecord& login : received)
        EXPECT_TRUE(login.encrypted);
}

} // namespace
} // namespace stand_in::testing
