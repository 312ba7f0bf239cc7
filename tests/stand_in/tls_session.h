#pragma once

#include "tests/stand_in/config.h"

#include <gnutls/gnutls.h>

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>

namespace stand_in {

// A throw-away self-signed RSA certificate, made once per process, named like the one SQL Server
// generates for itself when no certificate is configured.
class TlsCredentials {
public:
    // 2048-bit RSA, signed with SHA-256.
    static std::shared_ptr<const TlsCredentials> selfSigned();
    // 1024-bit RSA, signed with SHA-1, as the 2005 era made them.
    static std::shared_ptr<const TlsCredentials> legacySelfSigned();
    // Read from PEM files: the certificate (and the chain after it) and its key. Throws when unreadable.
    static std::shared_ptr<const TlsCredentials> fromFiles(const std::string& certificateFile,
                                                           const std::string& privateKeyFile);
    // The one `config` presents: its files when set, else the legacy or the current built-in one.
    static std::shared_ptr<const TlsCredentials> forConfig(const Config& config);
    ~TlsCredentials();
    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;

    const std::string& certificatePem() const { return certificatePem_; }
    gnutls_certificate_credentials_t handle() const { return credentials_; }

private:
    TlsCredentials(unsigned int bits, gnutls_digest_algorithm_t digest);
    TlsCredentials(const std::string& certificateFile, const std::string& privateKeyFile);
    gnutls_certificate_credentials_t credentials_ = nullptr;
    std::string certificatePem_;
};

// Server side of a TLS 1.0-1.2 session whose bytes go through a caller-supplied transport, because TDS
// wraps the handshake in PRELOGIN packets and then switches to raw records.
class TlsSession {
public:
    class Transport {
    public:
        virtual ~Transport() = default;
        // Both return bytes moved, 0 at end of stream, -1 on error (errno set).
        virtual ssize_t push(const void* data, std::size_t size) = 0;
        virtual ssize_t pull(void* data, std::size_t size) = 0;
        // >0 readable, 0 timeout, -1 error.
        virtual int waitReadable(unsigned int milliseconds) = 0;
    };

    // `alpn`: the one protocol the server agrees to when a client offers it (none if empty).
    TlsSession(std::shared_ptr<const TlsCredentials> credentials, Transport& transport,
               TlsVersion minimum = TlsVersion::Tls1_0, TlsVersion maximum = TlsVersion::Tls1_2,
               TlsCipherSuites suites = TlsCipherSuites::Modern, const std::string& alpn = {});
    ~TlsSession(); // no close_notify: FreeTDS does not send one either when it drops TLS
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    bool handshake();
    // What the client offered and what was agreed, once handshake() has returned.
    TlsHandshakeRecord record() const { return record_; }
    ssize_t receive(void* data, std::size_t size); // 0 at end of stream, <0 on error
    bool sendAll(const std::string& data);

private:
    std::shared_ptr<const TlsCredentials> credentials_;
    Transport& transport_;
    gnutls_session_t session_ = nullptr;
    TlsHandshakeRecord record_;
};

} // namespace stand_in
