// Runs the stand-in server until SIGTERM/SIGINT, for demos and for trying outside clients.
#include "tests/stand_in/server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage() {
    std::cerr
        << "usage: tds-stand-in [--address A] [--port P] [--login USER:PASSWORD]... "
           "[--database NAME]... [--min-tds 7.2|7.3|7.4] [--encryption none|login|required|strict] "
           "[--server-name NAME] [--tls 1.0|1.1|1.2|1.0-1.2 ...] [--tls-suites modern|3des|rc4|ecdhe-gcm] "
           "[--legacy-certificate yes|no]\n";
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

} // namespace

int main(int argc, char** argv) {
    stand_in::Config config;
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
        } else {
            return usage();
        }
    }

    // Blocked before any thread starts so that only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    stand_in::Server server(config);
    server.setLoginObserver([](const stand_in::LoginRecord& login) {
        std::printf("login tds=0x%08x user=%s database=%s encrypted=%s integrated=%s\n", login.tdsVersion,
                    login.user.c_str(), login.database.c_str(), login.encrypted ? "yes" : "no",
                    login.integrated ? "yes" : "no");
        std::fflush(stdout);
    });
    try {
        server.start();
    } catch (const std::exception& error) {
        std::cerr << "tds-stand-in: " << error.what() << '\n';
        return 1;
    }
    std::printf("listening on %s %u\n", config.address.c_str(), static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}
