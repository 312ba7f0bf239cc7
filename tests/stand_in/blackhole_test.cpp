// The blackhole listener: a port whose connection attempts neither succeed nor fail.
#include "tests/stand_in/blackhole_listener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace stand_in::testing {
namespace {

TEST(BlackholeListenerTest, ConnectStaysPending) {
    BlackholeListener blackhole("127.0.7.1");
    blackhole.start();

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(blackhole.port());
    ::inet_pton(AF_INET, "127.0.7.1", &to.sin_addr);
    const int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const int connectErrno = errno;
    // A refused or accepted connection makes the socket writable at once; a dropped SYN does not.
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, 300);
    ::close(fd);
    EXPECT_EQ(connected, -1);
    EXPECT_EQ(connectErrno, EINPROGRESS);
    EXPECT_EQ(ready, 0) << "revents " << p.revents;
}

} // namespace
} // namespace stand_in::testing
