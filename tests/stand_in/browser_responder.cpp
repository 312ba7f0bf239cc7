#include "tests/stand_in/browser_responder.h"

#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/listen_socket.h"
#include "tests/stand_in/ucs2.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace stand_in {

namespace {

constexpr std::uint8_t clntBcastEx = 0x02;
constexpr std::uint8_t clntUcastEx = 0x03;
constexpr std::uint8_t clntUcastInst = 0x04;
constexpr std::uint8_t svrResp = 0x05;
constexpr std::size_t maxInstanceName = 32;

// Transports in the order SQL Server Browser lists them: tcp, then np; the record ends with ";;".
std::string describe(const std::string& serverName, const BrowserInstance& instance) {
    std::string record = "ServerName;" + serverName + ";InstanceName;" + instance.name +
                         ";IsClustered;No;Version;" + instance.version + ";";
    if (instance.tcpEnabled)
        record += "tcp;" + std::to_string(instance.tcpPort) + ";";
    if (!instance.pipe.empty())
        record += "np;" + instance.pipe + ";";
    return record + ";";
}

std::string svrRespFor(const std::string& data) {
    ByteWriter w;
    w.u8(svrResp);
    w.u16le(static_cast<std::uint16_t>(data.size()));
    w.raw(data);
    return w.bytes();
}

} // namespace

BrowserResponder::BrowserResponder(std::string address, std::string serverName,
                                   std::vector<BrowserInstance> instances, std::uint16_t port)
    : address_(std::move(address)), serverName_(std::move(serverName)), port_(port),
      instances_(std::move(instances)) {}

BrowserResponder::~BrowserResponder() {
    stop();
}

void BrowserResponder::start() {
    if (thread_.joinable())
        throw std::logic_error("browser responder already started");
    fd_ = openUdpSocket(address_, port_, boundPort_);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        ::close(fd_);
        fd_ = -1;
        throw std::runtime_error("pipe2 failed");
    }
    thread_ = std::thread(&BrowserResponder::serve, this);
}

void BrowserResponder::stop() {
    if (!thread_.joinable())
        return;
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds_[1], &wake, 1);
    thread_.join();
    ::close(fd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    fd_ = wakeFds_[0] = wakeFds_[1] = -1;
}

void BrowserResponder::setInstances(std::vector<BrowserInstance> instances) {
    std::lock_guard<std::mutex> lock(mutex_);
    instances_ = std::move(instances);
}

void BrowserResponder::setMalformedReply(std::string bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    malformedReply_ = std::move(bytes);
}

int BrowserResponder::requestsReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void BrowserResponder::serve() {
    while (waitReadable(fd_, wakeFds_[0])) {
        char buffer[2048];
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t got =
            ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (got <= 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_;
        }
        const std::string reply = answer(std::string(buffer, static_cast<std::size_t>(got)));
        if (!reply.empty())
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
    }
}

std::string BrowserResponder::answer(const std::string& request) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!malformedReply_.empty())
        return malformedReply_;
    const auto kind = static_cast<std::uint8_t>(request[0]);
    if (kind == clntBcastEx || kind == clntUcastEx) {
        std::string all;
        for (const BrowserInstance& instance : instances_)
            all += describe(serverName_, instance);
        return all.empty() ? std::string() : svrRespFor(all);
    }
    if (kind != clntUcastInst)
        return {};
    const std::string name = request.substr(1, request.find('\0', 1) - 1);
    if (name.empty() || name.size() > maxInstanceName)
        return {};
    for (const BrowserInstance& instance : instances_) {
        if (equalsIgnoreCase(instance.name, name))
            return svrRespFor(describe(serverName_, instance));
    }
    return {};
}

} // namespace stand_in
