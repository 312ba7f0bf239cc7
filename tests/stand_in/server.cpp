#include "tests/stand_in/server.h"

#include "tests/stand_in/connection.h"
#include "tests/stand_in/listen_socket.h"
#include "tests/stand_in/tls_session.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace stand_in {

class Server::Host : public ConnectionHost {
public:
    explicit Host(Server& server) : server_(server) {}

    void recordLogin(const LoginRecord& record) override {
        std::function<void(const LoginRecord&)> observer;
        {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            server_.logins_.push_back(record);
            observer = server_.observer_;
        }
        if (observer)
            observer(record);
    }

    void recordTlsHandshake(const TlsHandshakeRecord& record) override {
        std::lock_guard<std::mutex> lock(server_.mutex_);
        server_.tlsHandshakes_.push_back(record);
    }

    void recordNtlmAuthenticate(const NtlmAuthenticateRecord& record) override {
        std::function<void(const NtlmAuthenticateRecord&)> observer;
        {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            server_.ntlmAuthenticates_.push_back(record);
            observer = server_.ntlmObserver_;
        }
        if (observer)
            observer(record);
    }

    bool waitForStop(std::chrono::milliseconds delay) override {
        std::unique_lock<std::mutex> lock(server_.mutex_);
        return server_.changed_.wait_for(lock, delay, [this] { return server_.stopping_; });
    }

private:
    Server& server_;
};

Server::Server(Config config) : config_(std::move(config)), host_(std::make_unique<Host>(*this)) {}

Server::~Server() {
    stop();
}

void Server::start() {
    if (acceptThread_.joinable())
        throw std::logic_error("stand-in server already started");
    Config config = this->config();
    // Generate the key now rather than during a client's handshake; files given are checked now too.
    if (config.encryption != Encryption::NotSupported)
        TlsCredentials::forConfig(config);
    listenFd_ = openListeningSocket(config.address, config.port, port_);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("pipe2 failed");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    acceptThread_ = std::thread(&Server::acceptLoop, this);
}

void Server::stop() {
    if (!acceptThread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds_[1], &wake, 1);
    acceptThread_.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;

    std::list<std::unique_ptr<Session>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Wakes every connection thread blocked on its socket; each then closes it.
        for (const auto& session : sessions_) {
            if (session->fd >= 0)
                ::shutdown(session->fd, SHUT_RDWR);
        }
        sessions.swap(sessions_);
    }
    for (const auto& session : sessions)
        session->thread.join();
}

void Server::acceptLoop() {
    while (waitReadable(listenFd_, wakeFds_[0])) {
        reapFinishedSessions();
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;

        std::lock_guard<std::mutex> lock(mutex_);
        ++accepted_;
        const std::uint16_t spid = nextSpid_++;
        auto session = std::make_unique<Session>();
        session->fd = fd;
        Session& ref = *session;
        sessions_.push_back(std::move(session));
        ref.thread = std::thread(&Server::runSession, this, std::ref(ref), config_, spid);
    }
}

void Server::runSession(Session& session, Config config, std::uint16_t spid) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd = session.fd;
    }
    try {
        Connection(fd, std::move(config), spid, *host_).run();
    } catch (const std::exception&) {
        // A failed TLS setup ends this connection only.
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ::close(fd);
        session.fd = -1;
        session.finished = true;
        ++closed_;
    }
    changed_.notify_all();
}

void Server::reapFinishedSessions() {
    std::list<std::unique_ptr<Session>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            auto next = std::next(it);
            if ((*it)->finished)
                finished.splice(finished.end(), sessions_, it);
            it = next;
        }
    }
    for (const auto& session : finished)
        session->thread.join();
}

void Server::setConfig(Config config) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_ = std::move(config);
}

Config Server::config() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
}

std::uint16_t Server::port() const {
    return port_;
}

std::string Server::certificatePem() const {
    return TlsCredentials::forConfig(config())->certificatePem();
}

void Server::setLoginObserver(std::function<void(const LoginRecord&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

void Server::setNtlmAuthenticateObserver(std::function<void(const NtlmAuthenticateRecord&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ntlmObserver_ = std::move(observer);
}

std::vector<NtlmAuthenticateRecord> Server::ntlmAuthenticates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ntlmAuthenticates_;
}

std::vector<TlsHandshakeRecord> Server::tlsHandshakes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tlsHandshakes_;
}

std::vector<LoginRecord> Server::logins() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logins_;
}

void Server::clearLogins() {
    std::lock_guard<std::mutex> lock(mutex_);
    logins_.clear();
    ntlmAuthenticates_.clear();
}

int Server::connectionsAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

int Server::connectionsClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool Server::waitAllClosed(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return closed_ == accepted_; });
}

} // namespace stand_in
