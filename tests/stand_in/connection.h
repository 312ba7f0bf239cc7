#pragma once

#include "tests/stand_in/config.h"
#include "tests/stand_in/tokens.h"

#include <chrono>
#include <cstdint>

namespace stand_in {

class PacketChannel;
struct Login7;
struct AcceptResult;
struct TdsMessage;

// What a connection needs from the server that owns it.
class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;
    virtual void recordLogin(const LoginRecord& record) = 0;
    virtual void recordTlsHandshake(const TlsHandshakeRecord& record) = 0;
    virtual void recordNtlmAuthenticate(const NtlmAuthenticateRecord& record) = 0;
    // Waits up to `delay`; true if the server is stopping and the connection should end.
    virtual bool waitForStop(std::chrono::milliseconds delay) = 0;
};

// One client session from PRELOGIN to the end of the socket, playing a SQL Server that has
// `config`. Runs on its own thread; the caller owns and closes the socket afterwards.
class Connection {
public:
    Connection(int fd, Config config, std::uint16_t spid, ConnectionHost& host);
    void run();

private:
    void serve(PacketChannel& channel);
    // TDS 8.0: TLS first, then PRELOGIN inside it; leaves `message` holding the LOGIN7. False when the
    // connection ends here, as it does for a PRELOGIN in clear.
    bool startStrict(PacketChannel& channel, TdsMessage& message);
    // CHALLENGE for the client's NEGOTIATE, then its AUTHENTICATE, then Config::ntlm's ending. Leaves in
    // `account` who the client says it is and returns true when the login is to be answered as usual;
    // false when the connection has ended here.
    bool exchangeNtlm(PacketChannel& channel, std::string& account);
    // Answers the LOGIN7; true if the session continues with requests. `kerberos` is the verdict on
    // the token of an integrated Kerberos login, `ntlmAccount` the account of an NTLM one that sent its
    // AUTHENTICATE; null for any other login.
    bool answerLogin(PacketChannel& channel, const Login7& login, const AcceptResult* kerberos,
                     const std::string* ntlmAccount);
    // Endless INFO or ERROR tokens until the client leaves.
    void flood(PacketChannel& channel, std::uint32_t clientVersion);
    // Writes `bytes` one at a time, Config::faultDelay apart; false if the server stops or the client leaves.
    bool trickle(PacketChannel& channel, const std::string& bytes);
    // Waits `delay` unless the server stops or the client closes first; true if the whole delay passed.
    bool pauseWhileClientWaits(std::chrono::milliseconds delay);
    void serveRequests(PacketChannel& channel);
    // FIN first and then wait for the client's, so that unread client bytes never turn the
    // close into a reset.
    void hangUp();
    void readUntilClientLeaves();
    void reset();
    // Makes the coming close a reset (RST) rather than a FIN.
    void abortOnClose();

    int fd_;
    Config config_;
    std::uint16_t spid_;
    ConnectionHost& host_;
    TokenWidths widths_; // of the version acknowledged in LOGINACK
};

} // namespace stand_in
