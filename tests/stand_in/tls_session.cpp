#include "tests/stand_in/tls_session.h"

#include <gnutls/crypto.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace stand_in {

namespace {

// FreeTDS 1.3.17 stalls in a TLS 1.3 handshake (its Finished is never flushed); SQL Server does not
// offer 1.3 over TDS 7.x either.
std::string priorities(TlsVersion minimum, TlsVersion maximum, TlsCipherSuites suites) {
    static constexpr const char* names[] = {"+VERS-TLS1.0", "+VERS-TLS1.1", "+VERS-TLS1.2"};
    static constexpr const char* suiteNames[] = {
        "NORMAL:%COMPAT",
        "NONE:+RSA:+3DES-CBC:+SHA1:+COMP-NULL:+SIGN-ALL:%COMPAT",
        "NONE:+RSA:+ARCFOUR-128:+SHA1:+MD5:+COMP-NULL:+SIGN-ALL:%COMPAT",
        "NONE:+ECDHE-RSA:+AES-128-GCM:+AES-256-GCM:+AEAD:+COMP-NULL:+SIGN-ALL:+GROUP-ALL:%COMPAT",
    };
    std::string p = std::string(suiteNames[int(suites)]) + ":-VERS-ALL";
    for (int v = int(minimum); v <= int(maximum); ++v)
        p += std::string(":") + names[v];
    return p;
}

std::uint16_t wireVersion(gnutls_protocol_t version) {
    switch (version) {
    case GNUTLS_TLS1_0:
        return 0x0301;
    case GNUTLS_TLS1_1:
        return 0x0302;
    case GNUTLS_TLS1_2:
        return 0x0303;
    default:
        return 0;
    }
}

// Notes the legacy version field of the ClientHello (the highest version offered up to TLS 1.2) and its
// cipher suites: version (2), random (32), session_id (1 + n), cipher_suites (2 + n) (RFC 5246, 7.4.1.2).
int clientHelloHook(gnutls_session_t session, unsigned int, unsigned, unsigned int incoming,
                    const gnutls_datum_t* msg) {
    auto* record = static_cast<TlsHandshakeRecord*>(gnutls_session_get_ptr(session));
    if (record && incoming && msg && msg->size >= 2) {
        // Some GnuTLS versions hand the message with its 4-byte header.
        const std::size_t at = msg->data[0] == 0x01 && msg->size >= 6 && msg->data[4] == 0x03 ? 4 : 0;
        const unsigned char* hello = msg->data + at;
        const std::size_t size = msg->size - at;
        record->clientHelloVersion = std::uint16_t(hello[0] << 8 | hello[1]);
        record->offeredSuites.clear();
        if (size < 35 || size < 35 + std::size_t(hello[34]) + 2)
            return 0;
        const std::size_t suitesAt = 35 + hello[34] + 2;
        const std::size_t length = std::size_t(hello[suitesAt - 2] << 8 | hello[suitesAt - 1]);
        for (std::size_t i = 0; i + 1 < length && suitesAt + i + 1 < size; i += 2)
            record->offeredSuites.push_back(
                std::uint16_t(hello[suitesAt + i] << 8 | hello[suitesAt + i + 1]));
    }
    return 0;
}
// GnuTLS 3.7 names the agreed suite only by its algorithms: its code is the table entry with all three.
std::uint16_t agreedSuite(gnutls_session_t session) {
    unsigned char id[2];
    gnutls_kx_algorithm_t kx;
    gnutls_cipher_algorithm_t cipher;
    gnutls_mac_algorithm_t mac;
    for (std::size_t i = 0; gnutls_cipher_suite_info(i, id, &kx, &cipher, &mac, nullptr); ++i)
        if (kx == gnutls_kx_get(session) && cipher == gnutls_cipher_get(session) &&
            mac == gnutls_mac_get(session))
            return std::uint16_t(id[0] << 8 | id[1]);
    return 0;
}

constexpr const char* certificateName = "SSL_Self_Signed_Fallback";

void check(int result, const char* what) {
    if (result < 0)
        throw std::runtime_error(std::string(what) + ": " + gnutls_strerror(result));
}

ssize_t pushThunk(gnutls_transport_ptr_t ptr, const void* data, std::size_t size) {
    return static_cast<TlsSession::Transport*>(ptr)->push(data, size);
}

ssize_t pullThunk(gnutls_transport_ptr_t ptr, void* data, std::size_t size) {
    return static_cast<TlsSession::Transport*>(ptr)->pull(data, size);
}

int pullTimeoutThunk(gnutls_transport_ptr_t ptr, unsigned int milliseconds) {
    return static_cast<TlsSession::Transport*>(ptr)->waitReadable(milliseconds);
}

} // namespace

std::shared_ptr<const TlsCredentials> TlsCredentials::selfSigned() {
    static const std::shared_ptr<const TlsCredentials> instance(new TlsCredentials(2048, GNUTLS_DIG_SHA256));
    return instance;
}

std::shared_ptr<const TlsCredentials> TlsCredentials::legacySelfSigned() {
    static const std::shared_ptr<const TlsCredentials> instance(new TlsCredentials(1024, GNUTLS_DIG_SHA1));
    return instance;
}

std::shared_ptr<const TlsCredentials> TlsCredentials::fromFiles(const std::string& certificateFile,
                                                                const std::string& privateKeyFile) {
    return std::shared_ptr<const TlsCredentials>(new TlsCredentials(certificateFile, privateKeyFile));
}

std::shared_ptr<const TlsCredentials> TlsCredentials::forConfig(const Config& config) {
    // Read again for each connection: cheap next to the handshake, and a test may rewrite the files.
    if (!config.certificateFile.empty())
        return fromFiles(config.certificateFile,
                         config.privateKeyFile.empty() ? config.certificateFile : config.privateKeyFile);
    return config.legacyCertificate ? legacySelfSigned() : selfSigned();
}

TlsCredentials::TlsCredentials(const std::string& certificateFile, const std::string& privateKeyFile) {
    gnutls_datum_t pem{};
    check(gnutls_load_file(certificateFile.c_str(), &pem), ("load_file " + certificateFile).c_str());
    certificatePem_.assign(reinterpret_cast<const char*>(pem.data), pem.size);
    gnutls_free(pem.data);
    check(gnutls_certificate_allocate_credentials(&credentials_), "allocate_credentials");
    const int result = gnutls_certificate_set_x509_key_file(credentials_, certificateFile.c_str(),
                                                            privateKeyFile.c_str(), GNUTLS_X509_FMT_PEM);
    if (result < 0) {
        gnutls_certificate_free_credentials(credentials_);
        check(result, ("set_x509_key_file " + certificateFile + ", " + privateKeyFile).c_str());
    }
}

TlsCredentials::TlsCredentials(unsigned int bits, gnutls_digest_algorithm_t digest) {
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t certificate = nullptr;
    try {
        check(gnutls_x509_privkey_init(&key), "privkey_init");
        check(gnutls_x509_privkey_generate(key, GNUTLS_PK_RSA, bits, 0), "privkey_generate");
        check(gnutls_x509_crt_init(&certificate), "crt_init");
        check(gnutls_x509_crt_set_version(certificate, 3), "crt_set_version");
        unsigned char serial[8];
        check(gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial), "rnd");
        serial[0] &= 0x7F; // keep it positive
        check(gnutls_x509_crt_set_serial(certificate, serial, sizeof serial), "crt_set_serial");
        const std::time_t now = std::time(nullptr);
        check(gnutls_x509_crt_set_activation_time(certificate, now - 24 * 3600), "crt_set_activation");
        check(gnutls_x509_crt_set_expiration_time(certificate, now + 30L * 24 * 3600), "crt_set_expiration");
        check(gnutls_x509_crt_set_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, certificateName,
                                            std::char_traits<char>::length(certificateName)),
              "crt_set_dn");
        check(gnutls_x509_crt_set_key(certificate, key), "crt_set_key");
        // Self-signed and trusted as its own root by clients that are given it as CA file.
        check(gnutls_x509_crt_set_basic_constraints(certificate, 1, -1), "crt_set_basic_constraints");
        check(gnutls_x509_crt_set_key_usage(certificate, GNUTLS_KEY_DIGITAL_SIGNATURE |
                                                             GNUTLS_KEY_KEY_ENCIPHERMENT |
                                                             GNUTLS_KEY_KEY_CERT_SIGN),
              "crt_set_key_usage");
        check(gnutls_x509_crt_sign2(certificate, certificate, key, digest, 0), "crt_sign");

        gnutls_datum_t pem{};
        check(gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_PEM, &pem), "crt_export");
        certificatePem_.assign(reinterpret_cast<const char*>(pem.data), pem.size);
        gnutls_free(pem.data);

        check(gnutls_certificate_allocate_credentials(&credentials_), "allocate_credentials");
        check(gnutls_certificate_set_x509_key(credentials_, &certificate, 1, key), "set_x509_key");
    } catch (...) {
        if (credentials_)
            gnutls_certificate_free_credentials(credentials_);
        gnutls_x509_crt_deinit(certificate);
        gnutls_x509_privkey_deinit(key);
        throw;
    }
    // set_x509_key copied both.
    gnutls_x509_crt_deinit(certificate);
    gnutls_x509_privkey_deinit(key);
}

TlsCredentials::~TlsCredentials() {
    gnutls_certificate_free_credentials(credentials_);
}

TlsSession::TlsSession(std::shared_ptr<const TlsCredentials> credentials, Transport& transport,
                       TlsVersion minimum, TlsVersion maximum, TlsCipherSuites suites,
                       const std::string& alpn)
    : credentials_(std::move(credentials)), transport_(transport) {
    check(gnutls_init(&session_, GNUTLS_SERVER), "gnutls_init");
    try {
        check(gnutls_priority_set_direct(session_, priorities(minimum, maximum, suites).c_str(), nullptr),
              "priority_set");
        check(gnutls_credentials_set(session_, GNUTLS_CRD_CERTIFICATE, credentials_->handle()),
              "credentials_set");
        if (!alpn.empty()) {
            gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(const_cast<char*>(alpn.data())),
                                    static_cast<unsigned int>(alpn.size())};
            check(gnutls_alpn_set_protocols(session_, &protocol, 1, 0), "alpn_set_protocols");
        }
    } catch (...) {
        gnutls_deinit(session_);
        throw;
    }
    gnutls_certificate_server_set_request(session_, GNUTLS_CERT_IGNORE);
    gnutls_transport_set_ptr(session_, &transport_);
    gnutls_transport_set_push_function(session_, pushThunk);
    gnutls_transport_set_pull_function(session_, pullThunk);
    gnutls_transport_set_pull_timeout_function(session_, pullTimeoutThunk);
    gnutls_session_set_ptr(session_, &record_);
    gnutls_handshake_set_hook_function(session_, GNUTLS_HANDSHAKE_CLIENT_HELLO, GNUTLS_HOOK_PRE,
                                       clientHelloHook);
}

TlsSession::~TlsSession() {
    gnutls_deinit(session_);
}

bool TlsSession::handshake() {
    int result;
    do {
        result = gnutls_handshake(session_);
    } while (result < 0 && !gnutls_error_is_fatal(result));
    record_.negotiated = result == 0 ? wireVersion(gnutls_protocol_get_version(session_)) : 0;
    record_.agreedSuite = 0;
    if (result == 0)
        record_.agreedSuite = agreedSuite(session_);
    gnutls_datum_t agreed{};
    if (result == 0 && gnutls_alpn_get_selected_protocol(session_, &agreed) == 0)
        record_.alpn.assign(reinterpret_cast<const char*>(agreed.data), agreed.size);
    if (result < 0)
        gnutls_alert_send_appropriate(session_, result); // GnuTLS leaves the alert to the application
    return result == 0;
}

ssize_t TlsSession::receive(void* data, std::size_t size) {
    ssize_t result;
    do {
        result = gnutls_record_recv(session_, data, size);
    } while (result == GNUTLS_E_AGAIN || result == GNUTLS_E_INTERRUPTED);
    // A peer closing the TCP connection without close_notify is the normal TDS ending.
    if (result == GNUTLS_E_PREMATURE_TERMINATION)
        return 0;
    return result;
}

bool TlsSession::sendAll(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t result = gnutls_record_send(session_, data.data() + sent, data.size() - sent);
        if (result == GNUTLS_E_AGAIN || result == GNUTLS_E_INTERRUPTED)
            continue;
        if (result < 0)
            return false;
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

} // namespace stand_in
