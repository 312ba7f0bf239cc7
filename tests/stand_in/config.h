#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace stand_in {

// TDS versions as a client writes them in LOGIN7 (MS-TDS 2.2.6.4).
namespace tds_version {
constexpr std::uint32_t v7_0 = 0x70000000;
constexpr std::uint32_t v7_1 = 0x71000001;
constexpr std::uint32_t v7_2 = 0x72090002;
constexpr std::uint32_t v7_3A = 0x730A0003;
constexpr std::uint32_t v7_3B = 0x730B0003;
constexpr std::uint32_t v7_4 = 0x74000004;
} // namespace tds_version

// What the server answers in the PRELOGIN ENCRYPTION option.
enum class Encryption {
    NotSupported, // ENCRYPT_NOT_SUP: no certificate, everything in clear
    LoginOnly,    // a server without "Force Encryption": echoes OFF/ON, so OFF clients encrypt LOGIN7 only
    Required,     // "Force Encryption": ON to ON clients, REQ to the others; the whole session is in TLS
    // "Force Strict Encryption" (TDS 8.0): TLS 1.2 from the first byte, ALPN tds/8.0 agreed when offered,
    // then PRELOGIN and everything after it inside TLS; a PRELOGIN in clear gets the connection closed.
    Strict,
};

// Misbehaviours a connection test must survive.
enum class Fault {
    None,
    NeverAnswerPrelogin, // accepts TCP and reads, never writes anything
    NeverAnswerLogin,    // answers PRELOGIN (and TLS), reads LOGIN7, never answers it
    CloseAfterPrelogin,  // answers PRELOGIN, then closes its side of the connection
    Garbage,             // answers PRELOGIN with bytes that are not TDS (an HTTP reply), then closes
    DelayLogin,          // answers LOGIN7 only after Config::faultDelay
    ResetAtOnce,         // accepts, then resets the connection (RST) once the client sends, reading nothing
    TricklePrelogin,     // sends a valid PRELOGIN reply one byte per Config::faultDelay, then carries on
    FloodErrors,         // answers LOGIN7 with ERROR tokens without end, never ending the message
    FloodInfo,           // the same with INFO tokens
};

// How a server takes NTLM logins (FreeTDS speaks NTLM for a `DOMINIO\usuario` login). Any other mode but
// Untrusted answers the client's NEGOTIATE with a CHALLENGE, reads its AUTHENTICATE (the proof of the
// password, which is not checked: such a server accepts any password) and then does what the mode says.
enum class Ntlm {
    Untrusted, // refused at once on LOGIN7 (18452), as by a server outside the client's domain
    Accept,    // LOGINACK for the accounts in Config::ntlmAccounts (any account when empty), 18456 otherwise
    Refuse,    // 18456 "Login failed for user 'DOMINIO\usuario'." and a DONE with the error flag
    Hang,      // reads nothing more and never answers, until the server stops
    Junk,      // a reply packet whose bytes are no tokens (an HTTP reply), then closes
    Close,     // closes its side of the connection
    Reset,     // resets the connection (RST)
};

// TLS protocol versions a server may be limited to (SSL 3.0 and TLS 1.3 never: see tls_session.cpp).
enum class TlsVersion { Tls1_0, Tls1_1, Tls1_2 };

// The cipher suites a server accepts. An old server (Windows Server 2003 with SQL Server 2005, or one
// whose administrator cut Schannel down) may take only 3DES or only RC4; a hardened one only ECDHE
// with AES-GCM, which TLS 1.2 alone carries.
enum class TlsCipherSuites {
    Modern,     // GnuTLS's NORMAL
    TripleDes,  // TLS_RSA_WITH_3DES_EDE_CBC_SHA only
    Rc4,        // TLS_RSA_WITH_RC4_128_SHA and TLS_RSA_WITH_RC4_128_MD5 only
    EcdheAesGcm // TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256 and _AES_256_GCM_SHA384 only
};

struct ProductVersion {
    std::uint8_t major = 15;
    std::uint8_t minor = 0;
    std::uint16_t build = 2000;
};

struct Config {
    std::string address = "127.0.0.1"; // "::1" for IPv6
    std::uint16_t port = 0;            // 0: the system picks a free port, see Server::port()
    std::string serverName = "STANDIN";
    ProductVersion productVersion;

    // SQL logins: name matched case-insensitively, password case-sensitively.
    std::map<std::string, std::string> logins;
    // Databases besides "master" (which always exists); matched case-insensitively, or exactly on a
    // server installed with a case-sensitive collation (there "MASTER" is no database).
    std::set<std::string> databases;
    bool caseSensitiveCollation = false;

    // Clients asking for less are refused the way SQL Server refuses a protocol it no longer speaks:
    // the connection is closed after LOGIN7 without any reply (FreeTDS reports 20017 then 20002).
    std::uint32_t minimumTdsVersion = tds_version::v7_0;
    // The LOGINACK carries min(client's version, this).
    std::uint32_t maximumTdsVersion = tds_version::v7_4;

    Encryption encryption = Encryption::NotSupported;

    // Keytab of the service principals this server is (MSSQLSvc/<host>:<port>). Empty: Kerberos
    // logins are refused as by a server outside the client's domain. NTLM logins follow `ntlm`.
    std::string keytab;
    Ntlm ntlm = Ntlm::Untrusted;
    // Accounts Ntlm::Accept lets in, as "DOMINIO\usuario", matched case-insensitively; empty: any.
    std::set<std::string> ntlmAccounts;
    // A hardened server takes TLS 1.2 only; an old one TLS 1.0 only.
    TlsVersion tlsMinimum = TlsVersion::Tls1_0;
    TlsVersion tlsMaximum = TlsVersion::Tls1_2;
    TlsCipherSuites tlsCipherSuites = TlsCipherSuites::Modern;
    // A 1024-bit RSA certificate signed with SHA-1, as servers of the 2005 era carried, instead of
    // the 2048-bit one signed with SHA-256.
    bool legacyCertificate = false;
    // When set, the certificate (PEM, its own first, then any CAs to send with it) and private key (PEM,
    // may be the same file) this server presents in PRELOGIN's TLS and in TDS 8.0's, instead of a built-in
    // one.
    std::string certificateFile;
    std::string privateKeyFile;

    Fault fault = Fault::None;
    std::chrono::milliseconds faultDelay{0};
    // Every reply of the login (PRELOGIN reply, each TLS handshake flight but TDS 8.0's, login reply)
    // leaves this long after it is ready, as over a slow network; requests after the login are answered at
    // once. Independent of any fault.
    std::chrono::milliseconds replyDelay{0};
    // When not empty, every LOGIN7 is refused with one ERROR per text (Msg 50000, severity 16),
    // as a server with a chatty logon trigger or a hostile one would.
    std::vector<std::string> refusalTexts;
    // When not 0, the LOGINACK carries this TDS version exactly as written (0x74000004 for 7.4),
    // whatever the client asked for; the rest of the reply keeps the agreed version's widths.
    std::uint32_t loginAckVersionOverride = 0;
    // A reply that contradicts itself, as a broken or hostile server may send one: a login it accepts
    // gets these messages after its LOGINACK (class above 10: ERROR tokens), and its final DONE carries
    // the error flag when `finalDoneError`.
    struct MessageAfterLoginAck {
        std::int32_t number = 0;
        std::uint8_t severity = 0;
        std::string text;
    };
    std::vector<MessageAfterLoginAck> messagesAfterLoginAck;
    bool finalDoneError = false;
    // The packet type that carries a login's acceptance: 0x04 (a reply) as every server sends it, or
    // another, as a broken or hostile server may (0x01, a SQL batch).
    std::uint8_t acceptancePacketType = 0x04;
};

// One LOGIN7 as the server received it, strings decoded to UTF-8.
struct LoginRecord {
    std::uint32_t tdsVersion = 0; // as written in LOGIN7, e.g. tds_version::v7_3B
    std::string user;
    std::string password;
    std::string database;
    std::string applicationName;
    std::string hostName;
    std::string serverName; // LOGIN7 ServerName field: the server as the client named it
    std::uint32_t packetSize = 0;
    bool integrated = false; // fIntSecurity: Windows authentication asked for
    bool encrypted = false;  // LOGIN7 arrived inside TLS
    std::string principal;   // Kerberos client principal of an integrated login that verified
    std::string tokenError;  // why an integrated login's Kerberos token did not verify
};

// One NTLM AUTHENTICATE message as the server received it, names decoded to UTF-8.
struct NtlmAuthenticateRecord {
    std::string account;     // "DOMINIO\usuario", as the client wrote domain and user
    std::string workstation; // the client's host name
    bool ntlmV2 = false;     // the NT response is an NTLMv2 one (longer than NTLMv1's 24 bytes)
    bool encrypted = false;  // it arrived inside TLS
};

// One TLS handshake as the server saw it; versions as written on the wire (0x0301 = TLS 1.0).
struct TlsHandshakeRecord {
    std::uint16_t clientHelloVersion = 0;     // the highest version the ClientHello offered (up to TLS 1.2)
    std::vector<std::uint16_t> offeredSuites; // the ClientHello's cipher suites, in its order
    std::uint16_t agreedSuite = 0;            // 0: the handshake failed
    std::uint16_t negotiated = 0;             // 0: the handshake failed
    std::string alpn;                         // the protocol agreed through ALPN, empty if none
};

} // namespace stand_in
