#pragma once

#include "tests/stand_in/config.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stand_in {

// A loopback SQL Server stand-in speaking TDS 7.0-7.4 the way a real server answers a login:
// PRELOGIN (with real TLS when configured), LOGIN7, the login token stream or the real error
// messages, then a DONE for every request. One thread per connection.
//
//     stand_in::Config config;
//     config.logins = {{"sa", "Secr3t!"}};
//     config.databases = {"Ventas"};
//     stand_in::Server server(config);
//     server.start();                       // throws std::runtime_error if it cannot listen
//     ... connect a client to 127.0.0.1:server.port() ...
//     server.waitAllClosed(std::chrono::seconds(5));
//     auto received = server.logins();
class Server {
public:
    explicit Server(Config config);
    ~Server(); // stops
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void start();
    // Closes the listener and every connection, and joins all threads. Safe to call twice.
    void stop();

    // Applies to connections accepted from now on (address and port only at the next start()).
    void setConfig(Config config);
    Config config() const;

    // The port actually listened on; 0 before start().
    std::uint16_t port() const;
    // PEM of the self-signed certificate used for TLS, for clients that insist on a CA file.
    std::string certificatePem() const;

    // Called on a connection thread for every LOGIN7 received, before it is answered.
    void setLoginObserver(std::function<void(const LoginRecord&)> observer);

    // Called on a connection thread for every NTLM AUTHENTICATE received, before it is answered.
    void setNtlmAuthenticateObserver(std::function<void(const NtlmAuthenticateRecord&)> observer);

    std::vector<LoginRecord> logins() const;
    std::vector<TlsHandshakeRecord> tlsHandshakes() const;
    // Every NTLM AUTHENTICATE received, in order: each is one proof of a password that reached the server.
    std::vector<NtlmAuthenticateRecord> ntlmAuthenticates() const;
    // Forgets the logins and the NTLM AUTHENTICATEs received so far.
    void clearLogins();
    int connectionsAccepted() const;
    // Connections whose socket the server has closed, whichever side ended them.
    int connectionsClosed() const;
    // True once every accepted connection is closed; false if that did not happen in time.
    bool waitAllClosed(std::chrono::milliseconds timeout) const;

private:
    class Host;
    struct Session {
        std::thread thread;
        int fd = -1;
        bool finished = false;
    };

    void acceptLoop();
    void runSession(Session& session, Config config, std::uint16_t spid);
    void reapFinishedSessions();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Config config_;
    std::function<void(const LoginRecord&)> observer_;
    std::function<void(const NtlmAuthenticateRecord&)> ntlmObserver_;
    std::vector<LoginRecord> logins_;
    std::vector<TlsHandshakeRecord> tlsHandshakes_;
    std::vector<NtlmAuthenticateRecord> ntlmAuthenticates_;
    std::list<std::unique_ptr<Session>> sessions_;
    std::unique_ptr<Host> host_;
    int accepted_ = 0;
    int closed_ = 0;
    bool stopping_ = false;
    std::uint16_t nextSpid_ = 51; // user sessions start above the system ones

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread acceptThread_;
};

} // namespace stand_in
