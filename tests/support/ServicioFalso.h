#pragma once

// Services that are not SQL Server, on a loopback port: what a user reaches
// when the port typed holds something else, or a server that behaves at the
// start of a connection in a way the stand-in does not.
#include "tests/stand_in/tls_session.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class ServicioFalso {
public:
    // Called on a thread of its own for each connection.
    using Atencion = std::function<void(int fd)>;

    explicit ServicioFalso(Atencion atencion) : atencion_(std::move(atencion)) {
        escucha_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        if (escucha_ < 0 || ::bind(escucha_, reinterpret_cast<sockaddr*>(&a), l) != 0 ||
            ::listen(escucha_, 16) != 0 || ::getsockname(escucha_, reinterpret_cast<sockaddr*>(&a), &l) != 0)
            throw std::runtime_error("no se pudo escuchar en loopback");
        puerto_ = ntohs(a.sin_port);
        aceptador_ = std::thread([this] { acepta(); });
    }
    ~ServicioFalso() {
        parar_ = true;
        ::shutdown(escucha_, SHUT_RDWR);
        aceptador_.join();
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            for (int fd : abiertos_)
                ::shutdown(fd, SHUT_RDWR); // wakes any attention still reading
        }
        for (std::thread& t : hilos_)
            t.join();
        ::close(escucha_);
    }
    ServicioFalso(const ServicioFalso&) = delete;
    ServicioFalso& operator=(const ServicioFalso&) = delete;

    std::uint16_t puerto() const { return puerto_; }
    int conexiones() const { return conexiones_; }

    // Reads what the client sent first (up to `espera` ms); false if it closed or sent nothing.
    static bool leeAlgo(int fd, int espera = 5000) {
        pollfd p{fd, POLLIN, 0};
        char b[4096];
        return ::poll(&p, 1, espera) > 0 && ::recv(fd, b, sizeof b, 0) > 0;
    }
    static void envia(int fd, const std::string& texto) {
        ::send(fd, texto.data(), texto.size(), MSG_NOSIGNAL);
    }
    // FIN, then whatever the client still sends is read, so that the close never turns into a reset.
    static void cuelga(int fd) {
        ::shutdown(fd, SHUT_WR);
        while (leeAlgo(fd, 2000)) {
        }
    }
    static void esperaFin(int fd) {
        while (leeAlgo(fd, -1)) {
        }
    }

    // An SSH server: its banner at once, then it closes on a client that is not SSH.
    static Atencion banner(const std::string& texto) {
        return [texto](int fd) {
            envia(fd, texto);
            leeAlgo(fd);
            cuelga(fd);
        };
    }
    // A server that answers whatever it is sent with `texto` and closes (an HTTP server's 400).
    static Atencion respondeYCierra(const std::string& texto) {
        return [texto](int fd) {
            if (leeAlgo(fd))
                envia(fd, texto);
            cuelga(fd);
        };
    }
    // Closes on the first bytes, on every connection, without a word.
    static Atencion cierraAlLeer() {
        return [](int fd) {
            leeAlgo(fd);
            cuelga(fd);
        };
    }
    // Closes on a PRELOGIN; a TLS ClientHello is read and never answered.
    static Atencion cierraYCallaAnteTls() {
        return [](int fd) {
            char primero = 0;
            if (::recv(fd, &primero, 1, MSG_PEEK) == 1 && primero == 0x16)
                return esperaFin(fd);
            leeAlgo(fd);
            cuelga(fd);
        };
    }
    // Closes on a PRELOGIN, and answers a ClientHello with a protocol_version
    // alert (RFC 5246, 7.2.2): a server that speaks TLS first, in versions this client has not.
    static Atencion cierraYRechazaLaVersionTls() {
        return [](int fd) {
            char primero = 0;
            if (::recv(fd, &primero, 1, MSG_PEEK) != 1)
                return;
            leeAlgo(fd);
            if (primero == 0x16) {
                const char alerta[] = {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 70};
                ::send(fd, alerta, sizeof alerta, MSG_NOSIGNAL);
            }
            cuelga(fd);
        };
    }
    // A service behind TLS (HTTPS): a ClientHello gets a handshake and then an HTTP 400 inside TLS.
    // Anything else gets GnuTLS's alert (`alerta`) or, as OpenSSL 3 does, a close without a word.
    static Atencion soloTls(bool alerta) {
        return [alerta](int fd) {
            char primero = 0;
            if (::recv(fd, &primero, 1, MSG_PEEK) != 1)
                return;
            if (primero != 0x16 && !alerta)
                return cuelga(fd);
            TransporteCrudo transporte(fd);
            stand_in::TlsSession tls(stand_in::TlsCredentials::selfSigned(), transporte,
                                     stand_in::TlsVersion::Tls1_0, stand_in::TlsVersion::Tls1_2);
            if (tls.handshake()) {
                char b[4096];
                if (tls.receive(b, sizeof b) > 0)
                    tls.sendAll("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            }
            cuelga(fd);
        };
    }

private:
    struct TransporteCrudo : stand_in::TlsSession::Transport {
        explicit TransporteCrudo(int f) : fd(f) {}
        ssize_t push(const void* d, std::size_t n) override { return ::send(fd, d, n, MSG_NOSIGNAL); }
        ssize_t pull(void* d, std::size_t n) override { return ::recv(fd, d, n, 0); }
        int waitReadable(unsigned int ms) override {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, ms == GNUTLS_INDEFINITE_TIMEOUT ? -1 : int(ms));
        }
        int fd;
    };

    void acepta() {
        for (;;) {
            const int fd = ::accept4(escucha_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0 || parar_) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            ++conexiones_;
            std::lock_guard<std::mutex> cerrojo(mutex_);
            abiertos_.push_back(fd);
            hilos_.emplace_back([this, fd] {
                atencion_(fd);
                std::lock_guard<std::mutex> c(mutex_);
                ::close(fd);
                abiertos_.erase(std::find(abiertos_.begin(), abiertos_.end(), fd));
            });
        }
    }

    Atencion atencion_;
    int escucha_ = -1;
    std::uint16_t puerto_ = 0;
    std::thread aceptador_;
    std::atomic<bool> parar_{false};
    std::atomic<int> conexiones_{0};
    std::mutex mutex_;
    std::vector<int> abiertos_;
    std::vector<std::thread> hilos_;
};
