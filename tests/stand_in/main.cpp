// Runs the stand-in server until SIGTERM/SIGINT, for demos and for trying outside clients. With
// --count it plays many servers at once, each on a port of its own, for runs over a whole estate.
#include "tests/stand_in/blackhole_listener.h"
#include "tests/stand_in/server.h"

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage() {
    std::cerr
        << "usage: tds-stand-in [--address A] [--port P] [--login USER:PASSWORD]... "
           "[--database NAME]... [--collation ci|cs] [--min-tds 7.2|7.3|7.4] "
           "[--encryption none|login|required|strict] "
           "[--server-name NAME] [--tls 1.0|1.1|1.2|1.0-1.2 ...] [--tls-suites modern|3des|rc4|ecdhe-gcm] "
           "[--legacy-certificate yes|no] [--certificate PEM [--private-key PEM]] "
           "[--fault delay-login|never-answer-prelogin|never-answer-login|close-after-prelogin] "
           "[--fault-delay MS] [--reply-delay MS] "
           "[--ntlm untrusted|accept|refuse|hang|junk|close|reset] [--ntlm-account DOMINIO\\USUARIO]... "
           "[--count N] "
           "[--behaviour server|blackhole|refuse]\n"
           "  --ntlm: what follows a DOMINIO\\usuario login's AUTHENTICATE (untrusted: refused at once on\n"
           "  LOGIN7); accept lets in the --ntlm-account ones, any account when none is given\n"
           "  --count N servers alike, each on a port of its own; --behaviour blackhole swallows connection\n"
           "  attempts instead (packets dropped), refuse holds ports bound but not listening (refused)\n"
           "  --certificate: the certificate (then any CAs to send with it) served instead of the built-in\n"
           "  self-signed one; --private-key: its key, when not in the same file\n";
    return 2;
}

bool parseVersion(const std::string& text, std::uint32_t& version) {
    if (text == "7.2")
        version = stand_in::tds_version::v7_2;
    else if (text == "7.3")
        version = stand_in::tds_version::v7_3A;
    else if (text == "7.4")
        version = stand_in::tds_version::v7_4;
    else
        return false;
    return true;
}

bool parseEncryption(const std::string& text, stand_in::Encryption& encryption) {
    if (text == "none")
        encryption = stand_in::Encryption::NotSupported;
    else if (text == "login")
        encryption = stand_in::Encryption::LoginOnly;
    else if (text == "required")
        encryption = stand_in::Encryption::Required;
    else if (text == "strict")
        encryption = stand_in::Encryption::Strict;
    else
        return false;
    return true;
}

bool parseTls(const std::string& text, stand_in::TlsVersion& version) {
    if (text == "1.0")
        version = stand_in::TlsVersion::Tls1_0;
    else if (text == "1.1")
        version = stand_in::TlsVersion::Tls1_1;
    else if (text == "1.2")
        version = stand_in::TlsVersion::Tls1_2;
    else
        return false;
    return true;
}

bool parseSuites(const std::string& text, stand_in::TlsCipherSuites& suites) {
    if (text == "modern")
        suites = stand_in::TlsCipherSuites::Modern;
    else if (text == "3des")
        suites = stand_in::TlsCipherSuites::TripleDes;
    else if (text == "rc4")
        suites = stand_in::TlsCipherSuites::Rc4;
    else if (text == "ecdhe-gcm")
        suites = stand_in::TlsCipherSuites::EcdheAesGcm;
    else
        return false;
    return true;
}

bool parseFault(const std::string& text, stand_in::Fault& fault) {
    if (text == "none")
        fault = stand_in::Fault::None;
    else if (text == "delay-login")
        fault = stand_in::Fault::DelayLogin;
    else if (text == "never-answer-prelogin")
        fault = stand_in::Fault::NeverAnswerPrelogin;
    else if (text == "never-answer-login")
        fault = stand_in::Fault::NeverAnswerLogin;
    else if (text == "close-after-prelogin")
        fault = stand_in::Fault::CloseAfterPrelogin;
    else
        return false;
    return true;
}

bool parseNtlm(const std::string& text, stand_in::Ntlm& ntlm) {
    if (text == "untrusted")
        ntlm = stand_in::Ntlm::Untrusted;
    else if (text == "accept")
        ntlm = stand_in::Ntlm::Accept;
    else if (text == "refuse")
        ntlm = stand_in::Ntlm::Refuse;
    else if (text == "hang")
        ntlm = stand_in::Ntlm::Hang;
    else if (text == "junk")
        ntlm = stand_in::Ntlm::Junk;
    else if (text == "close")
        ntlm = stand_in::Ntlm::Close;
    else if (text == "reset")
        ntlm = stand_in::Ntlm::Reset;
    else
        return false;
    return true;
}

bool parseNumber(const std::string& text, unsigned long maximum, unsigned long& number) {
    char* end = nullptr;
    number = std::strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && number <= maximum;
}

enum class Behaviour { Server, Blackhole, Refuse };

// A port bound but never listened on: the kernel answers every SYN with a reset, as a host with
// no SQL Server on that port does, and no other program can take the port meanwhile.
class RefusingPort {
public:
    explicit RefusingPort(const std::string& address) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
            throw std::runtime_error("refuse: IPv4 addresses only: " + address);
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t length = sizeof to;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&to), &length) != 0)
            throw std::runtime_error("refuse: cannot bind " + address);
        port_ = ntohs(to.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    stand_in::Config config;
    unsigned long count = 1;
    Behaviour behaviour = Behaviour::Server;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (option == "--address") {
            config.address = value;
        } else if (option == "--port") {
            char* end = nullptr;
            const unsigned long port = std::strtoul(value.c_str(), &end, 10);
            if (*end != '\0' || port > 65535)
                return usage();
            config.port = static_cast<std::uint16_t>(port);
        } else if (option == "--login") {
            const auto colon = value.find(':');
            if (colon == std::string::npos)
                return usage();
            config.logins[value.substr(0, colon)] = value.substr(colon + 1);
        } else if (option == "--database") {
            config.databases.insert(value);
        } else if (option == "--collation") {
            // cs: a server installed with a case-sensitive collation, whose databases match exactly.
            if (value != "ci" && value != "cs")
                return usage();
            config.caseSensitiveCollation = value == "cs";
        } else if (option == "--min-tds") {
            if (!parseVersion(value, config.minimumTdsVersion))
                return usage();
        } else if (option == "--encryption") {
            if (!parseEncryption(value, config.encryption))
                return usage();
        } else if (option == "--server-name") {
            config.serverName = value;
        } else if (option == "--tls") {
            // "1.2" alone, or a range "1.0-1.2".
            const auto guion = value.find('-');
            if (!parseTls(value.substr(0, guion), config.tlsMinimum) ||
                !parseTls(guion == std::string::npos ? value : value.substr(guion + 1), config.tlsMaximum))
                return usage();
        } else if (option == "--tls-suites") {
            if (!parseSuites(value, config.tlsCipherSuites))
                return usage();
        } else if (option == "--legacy-certificate") {
            if (value != "yes" && value != "no")
                return usage();
            config.legacyCertificate = value == "yes";
        } else if (option == "--certificate") {
            config.certificateFile = value;
        } else if (option == "--private-key") {
            config.privateKeyFile = value;
        } else if (option == "--fault") {
            if (!parseFault(value, config.fault))
                return usage();
        } else if (option == "--ntlm") {
            if (!parseNtlm(value, config.ntlm))
                return usage();
        } else if (option == "--ntlm-account") {
            if (value.find('\\') == std::string::npos)
                return usage();
            config.ntlmAccounts.insert(value);
        } else if (option == "--fault-delay") {
            unsigned long ms = 0;
            if (!parseNumber(value, 3600000, ms))
                return usage();
            config.faultDelay = std::chrono::milliseconds(ms);
        } else if (option == "--reply-delay") {
            unsigned long ms = 0;
            if (!parseNumber(value, 3600000, ms))
                return usage();
            config.replyDelay = std::chrono::milliseconds(ms);
        } else if (option == "--count") {
            if (!parseNumber(value, 5000, count) || count == 0)
                return usage();
        } else if (option == "--behaviour") {
            if (value == "server")
                behaviour = Behaviour::Server;
            else if (value == "blackhole")
                behaviour = Behaviour::Blackhole;
            else if (value == "refuse")
                behaviour = Behaviour::Refuse;
            else
                return usage();
        } else {
            return usage();
        }
    }
    if (count > 1 && config.port != 0)
        return usage();
    if (!config.privateKeyFile.empty() && config.certificateFile.empty())
        return usage();

    // Blocked before any thread starts so that only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<stand_in::Server>> servers;
    std::vector<std::unique_ptr<stand_in::BlackholeListener>> blackholes;
    std::vector<std::unique_ptr<RefusingPort>> refusing;
    try {
        for (unsigned long n = 0; n < count; ++n) {
            std::uint16_t port = 0;
            if (behaviour == Behaviour::Blackhole) {
                blackholes.push_back(
                    std::make_unique<stand_in::BlackholeListener>(config.address, config.port));
                blackholes.back()->start();
                port = blackholes.back()->port();
            } else if (behaviour == Behaviour::Refuse) {
                refusing.push_back(std::make_unique<RefusingPort>(config.address));
                port = refusing.back()->port();
            } else {
                servers.push_back(std::make_unique<stand_in::Server>(config));
                servers.back()->setLoginObserver([](const stand_in::LoginRecord& login) {
                    std::printf("login tds=0x%08x user=%s database=%s encrypted=%s integrated=%s\n",
                                login.tdsVersion, login.user.c_str(), login.database.c_str(),
                                login.encrypted ? "yes" : "no", login.integrated ? "yes" : "no");
                    std::fflush(stdout);
                });
                // Each AUTHENTICATE is a password proof that reached this server: one line, with the port.
                servers.back()->setNtlmAuthenticateObserver(
                    [server = servers.back().get()](const stand_in::NtlmAuthenticateRecord& authenticate) {
                        std::printf("ntlm-authenticate port=%u account=%s encrypted=%s\n",
                                    static_cast<unsigned>(server->port()), authenticate.account.c_str(),
                                    authenticate.encrypted ? "yes" : "no");
                        std::fflush(stdout);
                    });
                servers.back()->start();
                port = servers.back()->port();
            }
            std::printf("listening on %s %u\n", config.address.c_str(), static_cast<unsigned>(port));
        }
    } catch (const std::exception& error) {
        std::cerr << "tds-stand-in: " << error.what() << '\n';
        return 1;
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    for (auto& server : servers)
        server->stop();
    return 0;
}
