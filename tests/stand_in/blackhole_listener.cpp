#include "tests/stand_in/blackhole_listener.h"

#include "tests/stand_in/listen_socket.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace stand_in {

namespace {

// Enough for any kernel: Linux queues backlog + 1 connections, so one filler normally does.
constexpr int maxFillers = 8;
// A loopback handshake completes in microseconds; a connect still pending after this was dropped.
constexpr int droppedAfterMs = 200;

enum class Attempt { Connected, Pending, Failed };

Attempt connectOnce(const sockaddr_storage& to, socklen_t length, int& fd) {
    fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Attempt::Failed;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), length) == 0)
        return Attempt::Connected;
    if (errno != EINPROGRESS)
        return Attempt::Failed;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, droppedAfterMs) == 0)
        return Attempt::Pending;
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    return error == 0 ? Attempt::Connected : Attempt::Failed;
}

} // namespace

BlackholeListener::BlackholeListener(std::string address, std::uint16_t port)
    : address_(std::move(address)), port_(port) {}

BlackholeListener::~BlackholeListener() {
    stop();
}

void BlackholeListener::start() {
    if (listenFd_ >= 0)
        throw std::logic_error("blackhole listener already started");
    listenFd_ = openListeningSocket(address_, port_, boundPort_, 0);
    sockaddr_storage self{};
    socklen_t length = sizeof self;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&self), &length);

    // Fill the queue until our own next attempt hangs: then the next client's SYN is dropped too.
    for (int i = 0; i < maxFillers; ++i) {
        int fd = -1;
        const Attempt attempt = connectOnce(self, length, fd);
        if (attempt == Attempt::Connected) {
            fillers_.push_back(fd);
            continue;
        }
        if (fd >= 0)
            ::close(fd);
        if (attempt == Attempt::Pending)
            return;
        break;
    }
    stop();
    throw std::runtime_error("cannot fill the accept queue of " + address_);
}

void BlackholeListener::stop() {
    for (const int fd : fillers_)
        ::close(fd);
    fillers_.clear();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

} // namespace stand_in
