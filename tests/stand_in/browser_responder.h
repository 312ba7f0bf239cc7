#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stand_in {

struct BrowserInstance {
    std::string name;          // e.g. "SQLEXPRESS"; requests match it case-insensitively
    std::uint16_t tcpPort = 0; // where the instance's Server listens
    std::string version = "15.0.2000.5";
    // False for an instance with TCP/IP disabled, as Express editions are installed: the record then
    // has no "tcp;<port>;" part and a client that only speaks TCP cannot reach it.
    bool tcpEnabled = true;
    // Named pipe listed as "np;<pipe>;" when not empty, e.g. \\HOST\pipe\MSSQL$SQLEXPRESS\sql\query.
    std::string pipe{};
};

// SQL Server Browser (MC-SQLR) on UDP: answers CLNT_UCAST_INST for a known instance and
// CLNT_BCAST_EX / CLNT_UCAST_EX with every instance; stays silent otherwise, as the real one does.
// Clients such as FreeTDS always ask UDP port 1434, which needs root or CAP_NET_BIND_SERVICE.
class BrowserResponder {
public:
    BrowserResponder(std::string address, std::string serverName, std::vector<BrowserInstance> instances,
                     std::uint16_t port = 1434);
    ~BrowserResponder(); // stops
    BrowserResponder(const BrowserResponder&) = delete;
    BrowserResponder& operator=(const BrowserResponder&) = delete;

    void start(); // throws std::runtime_error if the port cannot be bound
    void stop();
    std::uint16_t port() const { return boundPort_; }

    void setInstances(std::vector<BrowserInstance> instances);
    // When not empty, every request is answered with exactly these bytes instead of a proper
    // SVR_RESP, e.g. a wrong first byte or a record cut short, as from a broken or foreign service.
    // An empty string goes back to proper answers.
    void setMalformedReply(std::string bytes);
    int requestsReceived() const;

private:
    void serve();
    std::string answer(const std::string& request) const;

    std::string address_;
    std::string serverName_;
    std::uint16_t port_;
    std::uint16_t boundPort_ = 0;

    mutable std::mutex mutex_;
    std::vector<BrowserInstance> instances_;
    std::string malformedReply_;
    int requests_ = 0;

    int fd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace stand_in
