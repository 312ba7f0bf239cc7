#pragma once

#include "tests/stand_in/tls_session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace stand_in {

namespace packet_type {
constexpr std::uint8_t sqlBatch = 0x01;
constexpr std::uint8_t reply = 0x04;
constexpr std::uint8_t attention = 0x06;
constexpr std::uint8_t login7 = 0x10;
constexpr std::uint8_t sspi = 0x11; // a client's further authentication message, e.g. NTLM's AUTHENTICATE
constexpr std::uint8_t prelogin = 0x12;
} // namespace packet_type

struct TdsMessage {
    std::uint8_t type = 0;
    std::string payload;
    bool encrypted = false; // its first packet came through TLS
};

// TDS packets (MS-TDS 2.2.3) over one connected socket, optionally inside TLS. During the TLS
// handshake the records travel as payloads of PRELOGIN packets; afterwards they go raw on the socket.
// The socket itself belongs to the caller.
class PacketChannel : private TlsSession::Transport {
public:
    explicit PacketChannel(int fd);
    ~PacketChannel() override;

    // Reads packets up to the one marked end-of-message. False at end of stream or on bad framing.
    bool readMessage(TdsMessage& message);
    // Splits the payload into packets of the current packet size, EOM on the last.
    bool writeMessage(std::uint8_t type, const std::string& payload);
    bool writeRaw(const std::string& bytes);
    // The packets writeMessage would send in clear, for callers that pace the bytes themselves.
    std::string framePackets(std::uint8_t type, const std::string& payload) const;

    // Runs the server side of the handshake; false if it failed.
    // A failed handshake still sends its alert, as a TLS server does, before returning false.
    bool startTls(std::shared_ptr<const TlsCredentials> credentials, TlsVersion minimum = TlsVersion::Tls1_0,
                  TlsVersion maximum = TlsVersion::Tls1_2, TlsCipherSuites suites = TlsCipherSuites::Modern);
    // The same as the first bytes of the connection, records straight on the socket (TDS 8.0).
    bool startStrictTls(std::shared_ptr<const TlsCredentials> credentials, const std::string& alpn);
    TlsHandshakeRecord lastTlsHandshake() const { return lastTlsHandshake_; }
    // "Login only" encryption: TLS carries the next packet, then both sides continue in clear.
    void dropTlsAfterNextPacket() { dropTlsAfterNextPacket_ = true; }
    bool encrypted() const { return mode_ == Mode::Tls; }

    // Called before each message or handshake flight goes out; returning false drops it and fails
    // the write. Empty: nothing is called.
    void setBeforeEachReply(std::function<bool()> wait) { beforeEachReply_ = std::move(wait); }

    void setSpid(std::uint16_t spid) { spid_ = spid; }
    void setPacketSize(std::size_t size) { packetSize_ = size; }

private:
    enum class Mode { Clear, TlsHandshake, Tls };

    bool readPacket(std::uint8_t& type, std::uint8_t& status, std::string& payload);
    bool readBytes(std::string& out, std::size_t count);
    bool fillRaw(std::size_t atLeast);
    bool sendRaw(const char* data, std::size_t size);
    bool writePackets(std::uint8_t type, const std::string& payload);
    bool flushHandshake();

    ssize_t push(const void* data, std::size_t size) override;
    ssize_t pull(void* data, std::size_t size) override;
    int waitReadable(unsigned int milliseconds) override;

    int fd_;
    Mode mode_ = Mode::Clear;
    std::unique_ptr<TlsSession> tls_;
    TlsHandshakeRecord lastTlsHandshake_;
    bool dropTlsAfterNextPacket_ = false;
    std::function<bool()> beforeEachReply_;
    std::uint16_t spid_ = 0;
    std::size_t packetSize_ = 4096;

    std::string rawIn_;          // socket bytes not consumed yet
    std::string plainIn_;        // decrypted bytes not consumed yet
    std::string handshakeIn_;    // TLS bytes unwrapped from PRELOGIN packets
    std::string handshakeOut_;   // TLS bytes waiting to be wrapped
    std::size_t recordLeft_ = 0; // bytes of the current TLS record not yet given to GnuTLS
};

} // namespace stand_in
