#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback port that refuses connections: bound, never listened on, and held
// for the test, so that no other test's server can take it meanwhile.
class PuertoQueRechaza {
public:
    PuertoQueRechaza() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            ADD_FAILURE() << "no se pudo reservar un puerto";
        puerto_ = ntohs(a.sin_port);
    }
    PuertoQueRechaza(const PuertoQueRechaza&) = delete;
    PuertoQueRechaza& operator=(const PuertoQueRechaza&) = delete;
    ~PuertoQueRechaza() { ::close(fd_); }
    std::uint16_t puerto() const { return puerto_; }

private:
    int fd_ = -1;
    std::uint16_t puerto_ = 0;
};
