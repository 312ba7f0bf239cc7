#include "tests/stand_in/packet_channel.h"

#include "tests/stand_in/byte_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace stand_in {

namespace {

constexpr std::size_t headerSize = 8;
constexpr std::uint8_t statusEndOfMessage = 0x01;
constexpr std::size_t tlsRecordHeaderSize = 5;
constexpr std::size_t readChunk = 16384;

} // namespace

PacketChannel::PacketChannel(int fd) : fd_(fd) {}

PacketChannel::~PacketChannel() = default;

bool PacketChannel::readMessage(TdsMessage& message) {
    message = TdsMessage{};
    for (bool first = true;; first = false) {
        const bool viaTls = encrypted();
        std::uint8_t type = 0;
        std::uint8_t status = 0;
        std::string payload;
        if (!readPacket(type, status, payload))
            return false;
        if (first) {
            message.type = type;
            message.encrypted = viaTls;
        }
        message.payload += payload;
        if (status & statusEndOfMessage)
            return true;
    }
}

bool PacketChannel::readPacket(std::uint8_t& type, std::uint8_t& status, std::string& payload) {
    std::string header;
    if (!readBytes(header, headerSize))
        return false;
    const std::size_t length = readU16be(header, 2);
    if (length < headerSize)
        return false;
    if (!readBytes(payload, length - headerSize))
        return false;
    type = static_cast<std::uint8_t>(header[0]);
    status = static_cast<std::uint8_t>(header[1]);
    if (mode_ == Mode::Tls && dropTlsAfterNextPacket_) {
        dropTlsAfterNextPacket_ = false;
        tls_.reset();
        mode_ = Mode::Clear;
        plainIn_.clear();
    }
    return true;
}

bool PacketChannel::readBytes(std::string& out, std::size_t count) {
    out.clear();
    if (mode_ != Mode::Tls) {
        if (!fillRaw(count))
            return false;
        out = rawIn_.substr(0, count);
        rawIn_.erase(0, count);
        return true;
    }
    while (plainIn_.size() < count) {
        char buffer[readChunk];
        const ssize_t got = tls_->receive(buffer, sizeof buffer);
        if (got <= 0)
            return false;
        plainIn_.append(buffer, static_cast<std::size_t>(got));
    }
    out = plainIn_.substr(0, count);
    plainIn_.erase(0, count);
    return true;
}

bool PacketChannel::fillRaw(std::size_t atLeast) {
    while (rawIn_.size() < atLeast) {
        char buffer[readChunk];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        rawIn_.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

bool PacketChannel::sendRaw(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool PacketChannel::writeRaw(const std::string& bytes) {
    return sendRaw(bytes.data(), bytes.size());
}

bool PacketChannel::writeMessage(std::uint8_t type, const std::string& payload) {
    return writePackets(type, payload);
}

std::string PacketChannel::framePackets(std::uint8_t type, const std::string& payload) const {
    const std::size_t chunk = packetSize_ - headerSize;
    std::string wire;
    std::size_t at = 0;
    std::uint8_t packetId = 1;
    do {
        const std::size_t size = std::min(chunk, payload.size() - at);
        const bool last = at + size == payload.size();
        ByteWriter header;
        header.u8(type);
        header.u8(last ? statusEndOfMessage : 0);
        header.u16be(static_cast<std::uint16_t>(size + headerSize));
        header.u16be(spid_);
        header.u8(packetId++);
        header.u8(0); // window
        wire += header.bytes();
        wire.append(payload, at, size);
        at += size;
    } while (at < payload.size());
    return wire;
}

bool PacketChannel::writePackets(std::uint8_t type, const std::string& payload) {
    if (beforeEachReply_ && !beforeEachReply_())
        return false;
    const std::string wire = framePackets(type, payload);
    if (mode_ == Mode::Tls)
        return tls_->sendAll(wire);
    return sendRaw(wire.data(), wire.size());
}

bool PacketChannel::startTls(std::shared_ptr<const TlsCredentials> credentials, TlsVersion minimum,
                             TlsVersion maximum, TlsCipherSuites suites) {
    tls_ = std::make_unique<TlsSession>(std::move(credentials), static_cast<TlsSession::Transport&>(*this),
                                        minimum, maximum, suites);
    mode_ = Mode::TlsHandshake;
    const bool agreed = tls_->handshake();
    lastTlsHandshake_ = tls_->record();
    if (!agreed || !flushHandshake()) {
        if (!agreed)
            flushHandshake();
        tls_.reset();
        mode_ = Mode::Clear;
        return false;
    }
    mode_ = Mode::Tls;
    recordLeft_ = 0;
    return true;
}

bool PacketChannel::startStrictTls(std::shared_ptr<const TlsCredentials> credentials,
                                   const std::string& alpn) {
    tls_ =
        std::make_unique<TlsSession>(std::move(credentials), static_cast<TlsSession::Transport&>(*this),
                                     TlsVersion::Tls1_2, TlsVersion::Tls1_2, TlsCipherSuites::Modern, alpn);
    // Raw records both ways from the start: nothing is wrapped in PRELOGIN packets.
    mode_ = Mode::Tls;
    recordLeft_ = 0;
    const bool agreed = tls_->handshake();
    lastTlsHandshake_ = tls_->record();
    if (!agreed) {
        tls_.reset();
        mode_ = Mode::Clear;
    }
    return agreed;
}

bool PacketChannel::flushHandshake() {
    if (handshakeOut_.empty())
        return true;
    const std::string flight = std::move(handshakeOut_);
    handshakeOut_.clear();
    return writePackets(packet_type::prelogin, flight);
}

ssize_t PacketChannel::push(const void* data, std::size_t size) {
    if (mode_ == Mode::TlsHandshake) {
        // Collected so that each flight goes out in one PRELOGIN packet, as SQL Server sends it.
        handshakeOut_.append(static_cast<const char*>(data), size);
        return static_cast<ssize_t>(size);
    }
    if (!sendRaw(static_cast<const char*>(data), size)) {
        errno = EPIPE;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

ssize_t PacketChannel::pull(void* data, std::size_t size) {
    if (mode_ == Mode::TlsHandshake) {
        if (!flushHandshake()) {
            errno = EPIPE;
            return -1;
        }
        if (handshakeIn_.empty()) {
            std::uint8_t type = 0;
            std::uint8_t status = 0;
            std::string payload;
            if (!readPacket(type, status, payload))
                return 0;
            handshakeIn_ = std::move(payload);
        }
        const std::size_t n = std::min(size, handshakeIn_.size());
        std::memcpy(data, handshakeIn_.data(), n);
        handshakeIn_.erase(0, n);
        return static_cast<ssize_t>(n);
    }
    // Never hand GnuTLS bytes past the current record: in "login only" mode the clear TDS stream
    // resumes right behind it.
    if (recordLeft_ == 0) {
        if (!fillRaw(tlsRecordHeaderSize))
            return 0;
        recordLeft_ = tlsRecordHeaderSize + readU16be(rawIn_, 3);
    }
    if (!fillRaw(1))
        return 0;
    const std::size_t n = std::min({size, recordLeft_, rawIn_.size()});
    std::memcpy(data, rawIn_.data(), n);
    rawIn_.erase(0, n);
    recordLeft_ -= n;
    return static_cast<ssize_t>(n);
}

int PacketChannel::waitReadable(unsigned int milliseconds) {
    if (!rawIn_.empty() || !handshakeIn_.empty() || mode_ == Mode::TlsHandshake)
        return 1;
    pollfd p{fd_, POLLIN, 0};
    const int timeout = milliseconds == GNUTLS_INDEFINITE_TIMEOUT ? -1 : static_cast<int>(milliseconds);
    return ::poll(&p, 1, timeout);
}

} // namespace stand_in
