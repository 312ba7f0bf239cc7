// The SQL Server Browser responder, asked by hand and by FreeTDS.
#include "tests/stand_in/browser_responder.h"
#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/dblib_client.h"
#include "tests/stand_in/test_support.h"
#include "tests/support/LoopbackPropio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace stand_in::testing {
namespace {

// Sends one datagram and returns the answer, or "" if none comes within `wait`.
std::string ask(const std::string& address, std::uint16_t port, const std::string& request,
                std::chrono::milliseconds wait = std::chrono::milliseconds(1000)) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::string answer;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) == 1) {
        char buffer[2048];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0)
            answer.assign(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return answer;
}

std::string svrResp(const std::string& data) {
    ByteWriter w;
    w.u8(0x05);
    w.u16le(static_cast<std::uint16_t>(data.size()));
    w.raw(data);
    return w.bytes();
}

const std::vector<BrowserInstance> instances = {{"SQLEXPRESS", 14360, "15.0.2000.5"},
                                                {"CONTABILIDAD", 14361, "10.50.1600.1"}};

TEST(BrowserResponderTest, AnswersKnownInstancesAndStaysSilentOtherwise) {
    BrowserResponder browser("127.0.0.1", "PRUEBAS", instances, 0);
    browser.start();
    const std::string express =
        "ServerName;PRUEBAS;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;14360;;";
    const std::string contabilidad =
        "ServerName;PRUEBAS;InstanceName;CONTABILIDAD;IsClustered;No;Version;10.50.1600.1;tcp;14361;;";

    EXPECT_EQ(ask("127.0.0.1", browser.port(), std::string("\x04sqlexpress\0", 12)), svrResp(express));
    EXPECT_EQ(ask("127.0.0.1", browser.port(),
                  std::string("\x04"
                              "Contabilidad\0",
                              14)),
              svrResp(contabilidad));
    EXPECT_EQ(ask("127.0.0.1", browser.port(), std::string("\x03", 1)), svrResp(express + contabilidad));
    EXPECT_EQ(ask("127.0.0.1", browser.port(), std::string("\x04OTRA\0", 6), std::chrono::milliseconds(300)),
              "");
    EXPECT_EQ(ask("127.0.0.1", browser.port(), std::string("\x0fjunk", 5), std::chrono::milliseconds(300)),
              "");
    EXPECT_EQ(browser.requestsReceived(), 5);
}

TEST(BrowserResponderTest, PipeOnlyInstanceHasNoTcpPartAndMalformedRepliesGoOutVerbatim) {
    const std::string pipe = "\\\\PRUEBAS\\pipe\\MSSQL$SQLEXPRESS\\sql\\query";
    BrowserResponder browser("127.0.0.1", "PRUEBAS", {{"SQLEXPRESS", 0, "16.0.1000.6", false, pipe}}, 0);
    browser.start();
    const std::string request("\x04SQLEXPRESS\0", 12);
    EXPECT_EQ(ask("127.0.0.1", browser.port(), request),
              svrResp("ServerName;PRUEBAS;InstanceName;SQLEXPRESS;IsClustered;No;Version;16.0.1000.6;np;" +
                      pipe + ";;"));

    // A record cut off in the middle of the port, its size still claiming the whole record.
    const std::string cut = svrResp("ServerName;PRUEBAS;InstanceName;SQLEXPRESS;tcp;14360;;").substr(0, 52);
    browser.setMalformedReply(cut);
    EXPECT_EQ(ask("127.0.0.1", browser.port(), request), cut);
    EXPECT_EQ(ask("127.0.0.1", browser.port(), std::string("\x04OTRA\0", 6)), cut);
}

// FreeTDS asks the fixed UDP port 1434 of the host it resolved: the pair of stand-ins takes a
// loopback address of its own.
class BrowserOn1434Test : public StandInTest {
protected:
    void SetUp() override {
        try {
            address_ = loopbackPropio([&](const std::string& address) {
                browser_ = std::make_unique<BrowserResponder>(address, "PRUEBAS", instances);
                browser_->start();
            });
        } catch (const std::runtime_error& error) {
            // Port 1434 is privileged only below net.ipv4.ip_unprivileged_port_start: say why not.
            browser_.reset();
            GTEST_SKIP() << "UDP port 1434 cannot be bound on a loopback address here: " << error.what();
        }
        Config config = standardConfig();
        config.address = address_;
        startServer(config);
        browser_->setInstances({{"SQLEXPRESS", server().port()}});
    }

    void TearDown() override {
        if (browser_)
            browser_->stop();
        StandInTest::TearDown();
    }

    std::string address_;
    std::unique_ptr<BrowserResponder> browser_;
};

TEST_F(BrowserOn1434Test, FreeTdsFindsTheInstancePortThroughTheBrowser) {
    const DbLibOutcome outcome = dbLibLogin({address_ + "\\sqlexpress", DBVERSION_73});
    EXPECT_TRUE(outcome.connected) << ::testing::PrintToString(outcome.errors);
    EXPECT_GE(browser_->requestsReceived(), 1);
    EXPECT_EQ(onlyLogin().serverName, address_);
}

TEST_F(BrowserOn1434Test, TsqlListsTheInstances) {
    const ProcessResult result =
        runProcess({TSQL_PROGRAM, "-H", address_, "-L"}, {}, "", std::chrono::seconds(15));
    EXPECT_NE(result.output.find("InstanceName SQLEXPRESS"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("tcp " + std::to_string(server().port())), std::string::npos)
        << result.output;
}

} // namespace
} // namespace stand_in::testing
