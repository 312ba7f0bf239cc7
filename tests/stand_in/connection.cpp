#include "tests/stand_in/connection.h"

#include "tests/stand_in/gss_acceptor.h"
#include "tests/stand_in/login7.h"
#include "tests/stand_in/ntlm.h"
#include "tests/stand_in/packet_channel.h"
#include "tests/stand_in/prelogin.h"
#include "tests/stand_in/tokens.h"
#include "tests/stand_in/ucs2.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>

namespace stand_in {

namespace {

constexpr int hangUpGraceMs = 5000;
constexpr std::size_t defaultPacketSize = 4096;
constexpr const char* defaultDatabase = "master";
constexpr const char* language = "us_english";

// What a port scanner or misconfigured client gets back from a web server.
constexpr const char* notTds = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
                               "Connection: close\r\n\r\n";

std::string loginFailed(const std::string& user) {
    return "Login failed for user '" + user + "'.";
}

// SQL Server accepts 512..32767 and falls back to its configured 4096 otherwise.
std::size_t agreedPacketSize(std::uint32_t requested) {
    return requested >= 512 && requested <= 32767 ? requested : defaultPacketSize;
}

bool containsIgnoreCase(const std::set<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return equalsIgnoreCase(n, name); });
}

const std::string* findCaseInsensitive(const std::map<std::string, std::string>& logins,
                                       const std::string& user) {
    for (const auto& [name, password] : logins) {
        if (equalsIgnoreCase(name, user))
            return &password;
    }
    return nullptr;
}

// The database as the server spells it, or empty if it does not exist.
std::string findDatabase(const std::set<std::string>& databases, const std::string& requested,
                         bool caseSensitive) {
    const auto same = [caseSensitive](const std::string& a, const std::string& b) {
        return caseSensitive ? a == b : equalsIgnoreCase(a, b);
    };
    if (same(requested, defaultDatabase))
        return defaultDatabase;
    for (const std::string& name : databases) {
        if (same(name, requested))
            return name;
    }
    return {};
}

} // namespace

Connection::Connection(int fd, Config config, std::uint16_t spid, ConnectionHost& host)
    : fd_(fd), config_(std::move(config)), spid_(spid), host_(host) {}

void Connection::run() {
    switch (config_.fault) {
    case Fault::ResetAtOnce:
        reset();
        return;
    case Fault::NeverAnswerPrelogin:
        readUntilClientLeaves();
        return;
    default:
        break;
    }
    PacketChannel channel(fd_);
    channel.setSpid(spid_);
    if (config_.replyDelay.count() > 0)
        channel.setBeforeEachReply([this] { return pauseWhileClientWaits(config_.replyDelay); });
    serve(channel);
}

void Connection::serve(PacketChannel& channel) {
    TdsMessage message;
    if (config_.encryption == Encryption::Strict) {
        if (!startStrict(channel, message))
            return;
    } else if (!channel.readMessage(message)) {
        return;
    } else if (message.type == packet_type::prelogin) {
        const auto request = decodePrelogin(message.payload);
        if (!request)
            return;
        if (config_.fault == Fault::Garbage) {
            channel.writeRaw(notTds);
            hangUp();
            return;
        }
        const EncryptionDecision decision = negotiateEncryption(config_.encryption, request->encryption);
        const std::string reply = encodePreloginReply(config_.productVersion, decision.answer);
        if (config_.fault == Fault::TricklePrelogin) {
            if (!trickle(channel, channel.framePackets(packet_type::reply, reply)))
                return;
        } else if (!channel.writeMessage(packet_type::reply, reply)) {
            return;
        }
        if (config_.fault == Fault::CloseAfterPrelogin ||
            decision.scope == EncryptionDecision::Scope::Refuse) {
            hangUp();
            return;
        }
        if (decision.scope != EncryptionDecision::Scope::None) {
            const bool agreed = channel.startTls(TlsCredentials::forConfig(config_), config_.tlsMinimum,
                                                 config_.tlsMaximum, config_.tlsCipherSuites);
            host_.recordTlsHandshake(channel.lastTlsHandshake());
            if (!agreed)
                return;
            if (decision.scope == EncryptionDecision::Scope::LoginPacket)
                channel.dropTlsAfterNextPacket();
        }
        if (!channel.readMessage(message))
            return;
    } else if (message.type == packet_type::login7 && config_.encryption == Encryption::Required) {
        // A TDS 7.0 client sends no PRELOGIN, so it cannot meet a forced encryption.
        hangUp();
        return;
    }

    if (message.type != packet_type::login7)
        return;
    auto login = decodeLogin7(message.payload);
    if (!login)
        return;
    login->record.encrypted = message.encrypted;
    // Verified before the login is recorded, so that the record says who the client proved to be.
    std::optional<AcceptResult> kerberos;
    if (login->record.integrated && !config_.keytab.empty() && !login->sspi.empty() &&
        !isNtlmToken(login->sspi)) {
        kerberos = acceptSecurityToken(config_.keytab, login->sspi);
        login->record.principal = kerberos->principal;
        login->record.tokenError = kerberos->error;
    }
    host_.recordLogin(login->record);

    if (config_.fault == Fault::NeverAnswerLogin) {
        readUntilClientLeaves();
        return;
    }
    if (config_.fault == Fault::DelayLogin && host_.waitForStop(config_.faultDelay))
        return;
    if (config_.fault == Fault::FloodErrors || config_.fault == Fault::FloodInfo) {
        flood(channel, login->record.tdsVersion);
        return;
    }
    std::optional<std::string> ntlmAccount;
    if (config_.ntlm != Ntlm::Untrusted && login->record.integrated && isNtlmToken(login->sspi) &&
        login->record.tdsVersion >= config_.minimumTdsVersion) {
        if (!exchangeNtlm(channel, ntlmAccount.emplace()))
            return;
    }
    if (answerLogin(channel, *login, kerberos ? &*kerberos : nullptr,
                    ntlmAccount ? &*ntlmAccount : nullptr)) {
        channel.setBeforeEachReply(nullptr);
        serveRequests(channel);
    } else {
        hangUp();
    }
}

bool Connection::startStrict(PacketChannel& channel, TdsMessage& message) {
    char first = 0;
    ssize_t got;
    while ((got = ::recv(fd_, &first, 1, MSG_PEEK)) < 0 && errno == EINTR) {
    }
    if (got <= 0)
        return false;
    // Anything but a TLS handshake record, a PRELOGIN in clear above all, is not let in.
    if (first != 0x16) {
        hangUp();
        return false;
    }
    const bool agreed = channel.startStrictTls(
        config_.certificateFile.empty() ? TlsCredentials::selfSigned() : TlsCredentials::forConfig(config_),
        "tds/8.0");
    host_.recordTlsHandshake(channel.lastTlsHandshake());
    if (!agreed || !channel.readMessage(message) || message.type != packet_type::prelogin)
        return false;
    if (!decodePrelogin(message.payload))
        return false;
    const EncryptionDecision decision = negotiateEncryption(config_.encryption, encrypt::off);
    if (!channel.writeMessage(packet_type::reply,
                              encodePreloginReply(config_.productVersion, decision.answer)))
        return false;
    return channel.readMessage(message);
}

bool Connection::exchangeNtlm(PacketChannel& channel, std::string& account) {
    std::array<std::uint8_t, 8> challenge{};
    std::random_device random;
    for (std::uint8_t& byte : challenge)
        byte = static_cast<std::uint8_t>(random());
    TdsMessage message;
    if (!channel.writeMessage(packet_type::reply, sspiToken(ntlmChallenge(config_.serverName, challenge))) ||
        !channel.readMessage(message))
        return false;
    auto authenticate =
        message.type == packet_type::sspi ? decodeNtlmAuthenticate(message.payload) : std::nullopt;
    if (!authenticate) {
        hangUp();
        return false;
    }
    authenticate->encrypted = message.encrypted;
    account = authenticate->account;
    host_.recordNtlmAuthenticate(*authenticate);

    switch (config_.ntlm) {
    case Ntlm::Hang:
        while (!host_.waitForStop(std::chrono::hours(1))) {
        }
        return false;
    case Ntlm::Junk:
        // A well-framed reply packet, so that what the client chokes on is its content.
        channel.writeMessage(packet_type::reply, notTds);
        hangUp();
        return false;
    case Ntlm::Close:
        hangUp();
        return false;
    case Ntlm::Reset:
        abortOnClose();
        return false;
    default:
        return true;
    }
}

bool Connection::answerLogin(PacketChannel& channel, const Login7& login, const AcceptResult* kerberos,
                             const std::string* ntlmAccount) {
    const LoginRecord& r = login.record;
    // SQL Server does not explain a refused protocol version to the client: it drops the connection
    // without a reply (clients report an unexpected end of stream), and says why only in its own log.
    if (r.tdsVersion < config_.minimumTdsVersion)
        return false;

    const std::uint32_t agreed = std::min(r.tdsVersion, config_.maximumTdsVersion);
    const TokenWidths widths = TokenWidths::forVersion(agreed);
    widths_ = widths;
    const std::string& server = config_.serverName;
    std::string reply;
    auto refuse = [&](std::initializer_list<Message> messages) {
        for (const Message& m : messages)
            reply += messageToken(m, widths);
        reply += doneToken(done_status::error, widths);
        channel.writeMessage(packet_type::reply, reply);
        return false;
    };

    if (!config_.refusalTexts.empty()) {
        for (const std::string& text : config_.refusalTexts)
            reply += messageToken({50000, 1, 16, text, server}, widths);
        reply += doneToken(done_status::error, widths);
        channel.writeMessage(packet_type::reply, reply);
        return false;
    }

    // A real server gives the client no reason why a token did not verify (its own log has it).
    std::string loginName = r.user;
    if (ntlmAccount) {
        loginName = *ntlmAccount;
        if (config_.ntlm != Ntlm::Accept ||
            (!config_.ntlmAccounts.empty() && !containsIgnoreCase(config_.ntlmAccounts, loginName)))
            return refuse({{18456, 1, 14, loginFailed(loginName), server}});
    } else if (r.integrated) {
        if (!kerberos || !kerberos->accepted) {
            return refuse({{18452, 1, 14,
                            "Login failed. The login is from an untrusted domain and cannot be used with "
                            "Windows authentication.",
                            server}});
        }
        loginName = kerberos->principal;
        // The AP-REP of mutual authentication leads the reply; FreeTDS feeds it to gss_init_sec_context.
        if (!kerberos->reply.empty())
            reply += sspiToken(kerberos->reply);
    } else {
        const std::string* password = findCaseInsensitive(config_.logins, r.user);
        if (!password || *password != r.password)
            return refuse({{18456, 1, 14, loginFailed(r.user), server}});
    }

    const std::string requested = r.database.empty() ? defaultDatabase : r.database;
    const std::string database = findDatabase(config_.databases, requested, config_.caseSensitiveCollation);
    if (database.empty()) {
        return refuse(
            {{4060, 1, 11,
              "Cannot open database \"" + requested + "\" requested by the login. The login failed.", server},
             {18456, 1, 14, loginFailed(loginName), server}});
    }

    const std::size_t packetSize = agreedPacketSize(r.packetSize);
    reply += envChangeText(envchange::database, database, defaultDatabase);
    reply += messageToken({5701, 2, 0, "Changed database context to '" + database + "'.", server}, widths);
    if (agreed >= tds_version::v7_1)
        reply += envChangeDefaultCollation();
    reply += envChangeText(envchange::language, language, "");
    reply += messageToken({5703, 1, 0, std::string("Changed language setting to ") + language + ".", server},
                          widths);
    reply += config_.loginAckVersionOverride
                 ? loginAckTokenWithWireVersion(config_.loginAckVersionOverride, config_.productVersion)
                 : loginAckToken(agreed, config_.productVersion);
    reply +=
        envChangeText(envchange::packetSize, std::to_string(packetSize), std::to_string(defaultPacketSize));
    if (login.wantsExtensions && agreed >= tds_version::v7_4)
        reply += featureExtAckToken();
    for (const auto& m : config_.messagesAfterLoginAck)
        reply += messageToken({m.number, 1, m.severity, m.text, server}, widths);
    reply += doneToken(config_.finalDoneError ? done_status::error : done_status::final, widths);
    if (!channel.writeMessage(config_.acceptancePacketType, reply))
        return false;
    channel.setPacketSize(packetSize);
    return true;
}

void Connection::flood(PacketChannel& channel, std::uint32_t clientVersion) {
    const TokenWidths widths = TokenWidths::forVersion(std::min(clientVersion, config_.maximumTdsVersion));
    const std::uint8_t severity = config_.fault == Fault::FloodErrors ? 14 : 0;
    // As much text as one packet holds, so that whatever a client keeps of it shows at once.
    const std::string text = "Login failed for user 'sa'. " + std::string(1900, '.');
    const std::string token = messageToken({18456, 1, severity, text, config_.serverName}, widths);
    // One packet at a time, none of them the message's last: the reply never ends.
    std::string packet = channel.framePackets(packet_type::reply, token);
    packet[1] = 0;
    while (!host_.waitForStop(std::chrono::milliseconds(0)) && channel.writeRaw(packet)) {
    }
}

bool Connection::trickle(PacketChannel& channel, const std::string& bytes) {
    // Without Nagle every byte leaves in its own segment, so the client sees each one arrive.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (const char byte : bytes) {
        if (!pauseWhileClientWaits(config_.faultDelay) || !channel.writeRaw(std::string(1, byte)))
            return false;
    }
    return true;
}

bool Connection::pauseWhileClientWaits(std::chrono::milliseconds delay) {
    // Short stop waits with a look at the socket in between: a client that gave up is let go at once
    // rather than at the next write, which a closed peer would still accept.
    constexpr std::chrono::milliseconds slice{50};
    const auto deadline = std::chrono::steady_clock::now() + delay;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        if (host_.waitForStop(std::min(left, slice)))
            return false;
        pollfd p{fd_, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return false;
    }
}

void Connection::serveRequests(PacketChannel& channel) {
    // A DONE is all any request gets; an attention is acknowledged as such.
    TdsMessage message;
    while (channel.readMessage(message)) {
        const std::uint16_t status =
            message.type == packet_type::attention ? done_status::attention : done_status::final;
        if (!channel.writeMessage(packet_type::reply, doneToken(status, widths_)))
            return;
    }
}

void Connection::hangUp() {
    ::shutdown(fd_, SHUT_WR);
    char buffer[4096];
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, hangUpGraceMs) <= 0)
            return;
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
    }
}

void Connection::readUntilClientLeaves() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
    }
}

void Connection::reset() {
    // Not before the client's first bytes: by then it has seen its connect complete, as it always has
    // across a real network. On loopback a reset sent at once can beat the client's look at its own
    // socket, and db-lib then reports a failed connect instead of a reset session.
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    abortOnClose();
}

void Connection::abortOnClose() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

} // namespace stand_in
