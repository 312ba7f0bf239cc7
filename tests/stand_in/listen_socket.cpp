#include "tests/stand_in/listen_socket.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace stand_in {

namespace {

int openBound(const std::string& address, std::uint16_t port, int type, std::uint16_t& boundPort,
              int backlog) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        throw std::runtime_error("not a numeric address: " + address);

    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::freeaddrinfo(found);
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int on = 1;
    if (type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (found->ai_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const int bound = ::bind(fd, found->ai_addr, found->ai_addrlen);
    const int bindErrno = errno;
    ::freeaddrinfo(found);
    if (bound != 0 || (type == SOCK_STREAM && ::listen(fd, backlog) != 0)) {
        const int error = bound != 0 ? bindErrno : errno;
        ::close(fd);
        // With its errno: a caller may try another address when this one is taken.
        throw std::system_error(error, std::generic_category(),
                                "cannot bind " + address + " port " + service);
    }

    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    boundPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(local).sin6_port
                                                  : reinterpret_cast<sockaddr_in&>(local).sin_port);
    return fd;
}

} // namespace

int openListeningSocket(const std::string& address, std::uint16_t port, std::uint16_t& boundPort,
                        int backlog) {
    return openBound(address, port, SOCK_STREAM, boundPort, backlog);
}

int openUdpSocket(const std::string& address, std::uint16_t port, std::uint16_t& boundPort) {
    return openBound(address, port, SOCK_DGRAM, boundPort, 0);
}

bool waitReadable(int fd, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        return fds[1].revents == 0;
    }
}

} // namespace stand_in
