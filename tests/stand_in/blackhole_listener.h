#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stand_in {

// A TCP port that swallows connection attempts: it listens with a backlog of 0, never accepts, and
// fills its own accept queue, so the kernel drops every further SYN. A client's connect() then stays
// in SYN_SENT until the client's own timeout, as with a host behind a firewall that drops packets.
// Any 127.0.0.x address works on Linux without configuration.
//
//     stand_in::BlackholeListener blackhole("127.0.7.1");
//     blackhole.start();                    // throws std::runtime_error if it cannot be set up
//     ... connect to 127.0.7.1:blackhole.port() and watch the client time out ...
class BlackholeListener {
public:
    explicit BlackholeListener(std::string address, std::uint16_t port = 0);
    ~BlackholeListener(); // stops
    BlackholeListener(const BlackholeListener&) = delete;
    BlackholeListener& operator=(const BlackholeListener&) = delete;

    void start();
    // Clients still trying then meet a closed port: their next SYN retransmission is refused.
    void stop();
    std::uint16_t port() const { return boundPort_; }

private:
    std::string address_;
    std::uint16_t port_;
    std::uint16_t boundPort_ = 0;
    int listenFd_ = -1;
    std::vector<int> fillers_; // our own connections occupying the accept queue
};

} // namespace stand_in
