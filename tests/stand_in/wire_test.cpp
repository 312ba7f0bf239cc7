// Byte layouts that clients depend on, checked with a hand-made client on a raw socket.
#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/test_support.h"
#include "tests/stand_in/ucs2.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace stand_in::testing {
namespace {

constexpr std::uint8_t preloginType = 0x12;
constexpr std::uint8_t login7Type = 0x10;

struct Packet {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::uint16_t spid = 0;
    std::string payload;
};

class RawClient {
public:
    explicit RawClient(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }

    void send(std::uint8_t type, const std::string& payload) {
        ByteWriter w;
        w.u8(type);
        w.u8(0x01);
        w.u16be(static_cast<std::uint16_t>(payload.size() + 8));
        w.u32be(0);
        w.raw(payload);
        ASSERT_EQ(::send(fd_, w.bytes().data(), w.size(), MSG_NOSIGNAL), static_cast<ssize_t>(w.size()));
    }

    // One packet, or an empty type-0 packet if nothing complete arrives within two seconds.
    Packet receive() {
        Packet packet;
        std::string header;
        if (!read(header, 8))
            return packet;
        packet.type = static_cast<std::uint8_t>(header[0]);
        packet.status = static_cast<std::uint8_t>(header[1]);
        packet.spid = readU16be(header, 4);
        if (!read(packet.payload, readU16be(header, 2) - 8u))
            packet.type = 0;
        return packet;
    }

    // True if the server ends the stream (rather than going quiet) within two seconds.
    bool closedByServer() {
        pollfd p{fd_, POLLIN, 0};
        char byte;
        return ::poll(&p, 1, 2000) == 1 && ::recv(fd_, &byte, 1, 0) == 0;
    }

private:
    bool read(std::string& out, std::size_t count) {
        out.clear();
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return false;
            char buffer[4096];
            const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (got <= 0)
                return false;
            out.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
};

// PRELOGIN as FreeTDS sends it, with the given ENCRYPTION byte.
std::string preloginRequest(std::uint8_t encryption) {
    std::string table("\x00\x00\x1a\x00\x06\x01\x00\x20\x00\x01\x02\x00\x21\x00\x0c\x03\x00\x2d\x00\x04"
                      "\x04\x00\x31\x00\x01\xff",
                      26);
    std::string data("\x09\x00\x00\x00\x00\x00", 6);
    data += static_cast<char>(encryption);
    data += std::string("MSSQLServer\0", 12) + std::string("\x01\x02\x03\x04", 4) + std::string(1, '\0');
    return table + data;
}

// Option token -> data, from a PRELOGIN reply.
std::map<int, std::string> preloginOptions(const std::string& payload) {
    std::map<int, std::string> options;
    for (std::size_t at = 0; at < payload.size() && static_cast<std::uint8_t>(payload[at]) != 0xFF; at += 5)
        options[payload[at]] = payload.substr(readU16be(payload, at + 1), readU16be(payload, at + 3));
    return options;
}

std::string login7(std::uint32_t version, const std::string& user, const std::string& password) {
    const bool modern = version >= tds_version::v7_2;
    const std::size_t fixedSize = modern ? 94 : 86;
    std::string obfuscated = utf8ToUtf16le(password);
    for (char& c : obfuscated) {
        const auto b = static_cast<unsigned char>(c);
        c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
    }
    // host, user, password, app, server, extension, client library, language, database
    const std::string fields[] = {
        utf8ToUtf16le("probe"),   utf8ToUtf16le(user),        obfuscated,
        utf8ToUtf16le("raw"),     utf8ToUtf16le("127.0.0.1"), "",
        utf8ToUtf16le("raw-lib"), utf8ToUtf16le(""),          utf8ToUtf16le("Ventas")};
    ByteWriter offsets;
    std::string data;
    for (const std::string& field : fields) {
        offsets.u16le(static_cast<std::uint16_t>(field.empty() ? 0 : fixedSize + data.size()));
        offsets.u16le(static_cast<std::uint16_t>(field.size() / 2));
        data += field;
    }
    ByteWriter fixed;
    fixed.u32le(static_cast<std::uint32_t>(fixedSize + data.size()));
    fixed.u32le(version);
    fixed.u32le(4096);
    fixed.u32le(0x06000000); // client program version
    fixed.u32le(1234);       // client pid
    fixed.u32le(0);          // connection id
    fixed.raw(std::string("\xe0\x01\x00\x00", 4));
    fixed.u32le(0); // time zone
    fixed.u32le(0x0409);
    fixed.raw(offsets.bytes());
    fixed.raw(std::string(6, '\0')); // client id
    fixed.raw(std::string(8, '\0')); // SSPI, attach db file
    if (modern)
        fixed.raw(std::string(8, '\0')); // change password, long SSPI
    return fixed.bytes() + data;
}

struct Token {
    std::uint8_t type;
    std::string body;
};

// Splits a login reply; every token in it but DONE carries a two-byte length.
std::vector<Token> tokens(const std::string& payload, std::size_t doneSize) {
    std::vector<Token> result;
    for (std::size_t at = 0; at < payload.size();) {
        const auto type = static_cast<std::uint8_t>(payload[at]);
        if (type == 0xFD) {
            result.push_back({type, payload.substr(at + 1, doneSize)});
            at += 1 + doneSize;
        } else {
            const std::size_t length = readU16le(payload, at + 1);
            result.push_back({type, payload.substr(at + 3, length)});
            at += 3 + length;
        }
    }
    return result;
}

class WireTest : public StandInTest {};

TEST_F(WireTest, PreloginReplyIsOneReplyPacketNegotiatingEncryption) {
    struct Case {
        Encryption server;
        std::uint8_t client;
        std::uint8_t answer;
    };
    const Case cases[] = {
        {Encryption::NotSupported, 0x00, 0x02}, {Encryption::LoginOnly, 0x00, 0x00},
        {Encryption::LoginOnly, 0x01, 0x01},    {Encryption::LoginOnly, 0x02, 0x02},
        {Encryption::Required, 0x00, 0x03},     {Encryption::Required, 0x01, 0x01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.server)) + " client " + std::to_string(c.client));
        Config config = standardConfig();
        config.encryption = c.server;
        startServer(config);
        RawClient client(server().port());
        ASSERT_TRUE(client.connected());
        client.send(preloginType, preloginRequest(c.client));
        const Packet reply = client.receive();
        EXPECT_EQ(reply.type, 0x04);
        EXPECT_EQ(reply.status, 0x01) << "the whole reply in one packet";
        EXPECT_GE(reply.spid, 51);
        auto options = preloginOptions(reply.payload);
        EXPECT_EQ(options[0x00], std::string("\x0f\x00\x07\xd0\x00\x00", 6)) << "15.0.2000, build big-endian";
        EXPECT_EQ(options[0x01], std::string(1, static_cast<char>(c.answer)));
        EXPECT_EQ(options[0x04], std::string(1, '\0')) << "MARS off";
        EXPECT_TRUE(options.count(0x03) && options[0x03].empty()) << "THREADID present and empty";
        server().stop();
    }
}

TEST_F(WireTest, LoginReplyFollowsTheAcknowledgedVersion) {
    startServer();
    struct Case {
        std::uint32_t version;
        std::string ackVersion; // big-endian on the wire
        std::size_t doneSize;
    };
    const Case cases[] = {
        {tds_version::v7_3B, std::string("\x73\x0b\x00\x03", 4), 12},
        {tds_version::v7_1, std::string("\x71\x00\x00\x01", 4), 8},
    };
    for (const Case& c : cases) {
        RawClient client(server().port());
        client.send(login7Type, login7(c.version, "sa", saPassword));
        const Packet reply = client.receive();
        ASSERT_EQ(reply.type, 0x04);
        const auto stream = tokens(reply.payload, c.doneSize);
        std::vector<int> types;
        for (const Token& t : stream)
            types.push_back(t.type);
        EXPECT_EQ(types, (std::vector<int>{0xE3, 0xAB, 0xE3, 0xE3, 0xAB, 0xAD, 0xE3, 0xFD}));
        ASSERT_EQ(stream.size(), 8u);
        const std::string& ack = stream[5].body;
        EXPECT_EQ(ack[0], 1) << "interface SQL_TSQL";
        EXPECT_EQ(ack.substr(1, 4), c.ackVersion);
        EXPECT_EQ(utf16leToUtf8(ack.substr(6, 2 * static_cast<unsigned char>(ack[5]))),
                  std::string("Microsoft SQL Server\0\0", 22));
        EXPECT_EQ(stream[7].body, std::string(c.doneSize, '\0'));
    }
    EXPECT_EQ(server().logins().back().tdsVersion, tds_version::v7_1);
    EXPECT_EQ(server().logins().back().database, "Ventas");
}

TEST_F(WireTest, RequestsAfterLoginGetDoneAndAttentionIsAcknowledged) {
    startServer();
    RawClient client(server().port());
    client.send(login7Type, login7(tds_version::v7_2, "sa", saPassword));
    ASSERT_EQ(client.receive().type, 0x04);

    client.send(0x01, utf8ToUtf16le("select 1"));
    const Packet batch = client.receive();
    EXPECT_EQ(batch.payload, std::string("\xfd\x00\x00\x00\x00", 5) + std::string(8, '\0'));
    client.send(0x06, "");
    const Packet attention = client.receive();
    EXPECT_EQ(attention.payload, std::string("\xfd\x20\x00\x00\x00", 5) + std::string(8, '\0'));
}

TEST_F(WireTest, FailedLoginIsFollowedByTheServerClosing) {
    startServer();
    {
        RawClient client(server().port());
        client.send(login7Type, login7(tds_version::v7_3B, "sa", "bad"));
        const Packet reply = client.receive();
        const auto stream = tokens(reply.payload, 12);
        ASSERT_EQ(stream.size(), 2u);
        EXPECT_EQ(stream[0].type, 0xAA);
        EXPECT_EQ(stream[1].body.substr(0, 2), std::string("\x02\x00", 2)) << "DONE_ERROR";
        EXPECT_TRUE(client.closedByServer()) << "nothing after the DONE";
    }
    EXPECT_TRUE(server().waitAllClosed(std::chrono::seconds(5)));
}

TEST_F(WireTest, StopIsPromptWhateverTheFaultIsDoing) {
    // Each fault is caught mid-way: waiting out its delay, trickling, hanging up, or reading a
    // client that never leaves. A connection thread that sleeps or blocks would hold stop() up.
    const Fault faults[] = {
        Fault::None,    Fault::NeverAnswerPrelogin, Fault::NeverAnswerLogin, Fault::CloseAfterPrelogin,
        Fault::Garbage, Fault::DelayLogin,          Fault::ResetAtOnce,      Fault::TricklePrelogin};
    for (const Fault fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        Config config = standardConfig();
        config.fault = fault;
        config.faultDelay = std::chrono::seconds(30);
        startServer(config);
        RawClient client(server().port());
        ASSERT_TRUE(client.connected());
        if (fault != Fault::ResetAtOnce) {
            client.send(preloginType, preloginRequest(0x02));
            client.send(login7Type, login7(tds_version::v7_3B, "sa", saPassword));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));

        const auto before = std::chrono::steady_clock::now();
        server().stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    }
}

} // namespace
} // namespace stand_in::testing
