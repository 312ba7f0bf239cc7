#include "tests/support/kerberos/test_kdc.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kerberos_testing {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto toolTimeout = 10s;
constexpr auto kdcStartTimeout = 5s;
constexpr int kdcStartAttempts = 5;

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The environment of a child: ours with `overrides` on top. Built before fork, since only
// async-signal-safe calls are allowed in the child of a threaded process.
std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!overrides.count(name))
            env.push_back(entry);
    }
    for (const auto& [name, value] : overrides)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Starts `argv` with stdin, stdout and stderr on the given descriptors (-1: /dev/null).
pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& env, int in, int out,
            int err) {
    std::vector<std::string> envStrings = childEnvironment(env);
    const std::vector<char*> args = pointers(argv);
    const std::vector<char*> envp = pointers(envStrings);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in >= 0 ? in : devNull, 0);
        ::dup2(out >= 0 ? out : devNull, 1);
        ::dup2(err >= 0 ? err : devNull, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(devNull);
    if (pid < 0)
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    return pid;
}

std::string commandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& a : argv)
        line += (line.empty() ? "" : " ") + a;
    return line;
}

ToolResult runTool(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                   const std::string& input = "") {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = spawn(argv, env, in[0], out[1], err[1]);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Inputs are a few lines, well inside the pipe buffer.
    [[maybe_unused]] const ssize_t written = ::write(in[1], input.data(), input.size());
    ::close(in[1]);

    ToolResult result;
    const auto deadline = Clock::now() + toolTimeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0)
            ::close(p.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (timedOut)
        throw std::runtime_error(commandLine(argv) + " did not finish in time");
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult runChecked(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      const std::string& input = "") {
    ToolResult result = runTool(argv, env, input);
    if (result.exitCode != 0)
        throw std::runtime_error(commandLine(argv) + " failed: " + result.err + result.out);
    return result;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::trunc);
    file << text;
    if (!file.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port free on 127.0.0.1 for both TCP and UDP (the KDC listens on both). Another process may
// still take it before the KDC binds; startKdc() then retries.
std::uint16_t pickFreePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (tcp < 0 || ::bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(tcp);
            continue;
        }
        const std::uint16_t port = ntohs(address.sin_port);
        const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const bool udpFree =
            udp >= 0 && ::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(udp);
        ::close(tcp);
        if (udpFree)
            return port;
    }
    throw std::runtime_error("no free port on 127.0.0.1");
}

bool acceptsConnections(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool ok =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

std::string makeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarpelino-kdc-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    return pattern;
}

} // namespace

TestKdc::TestKdc(std::string realm) : realm_(std::move(realm)), directory_(makeTemporaryDirectory()) {
    try {
        configFile_ = directory_ + "/krb5.conf";
        port_ = pickFreePort();
        writeKdcConfig();
        writeClientConfig(configFile_);
        // The master key only protects the database file in this directory.
        runChecked({KDB5_UTIL_PROGRAM, "create", "-s", "-r", realm_, "-P", "master-key-of-a-test-kdc"},
                   toolEnvironment());
        kadmin("addprinc -clearpolicy -pw " + std::string(userPassword) + " " + userName + "\n");
        startKdc();
        renewUserTicket();
    } catch (...) {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
        throw;
    }
}

TestKdc::~TestKdc() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string TestKdc::sqlServerPrincipal(const std::string& host, std::uint16_t port) {
    return "MSSQLSvc/" + host + ":" + std::to_string(port);
}

std::string TestKdc::userPrincipal() const {
    return std::string(userName) + "@" + realm_;
}

std::string TestKdc::credentialCache() const {
    return "FILE:" + directory_ + "/ccache";
}

std::string TestKdc::keytab() const {
    return directory_ + "/service.keytab";
}

void TestKdc::addServicePrincipal(const std::string& name, bool inKeytab) {
    std::string commands = "addprinc -clearpolicy -randkey " + name + "\n";
    // -norandkey keeps the key (and kvno) the KDC issues tickets with.
    if (inKeytab)
        commands += "ktadd -norandkey -k " + keytab() + " " + name + "\n";
    kadmin(commands);
}

void TestKdc::removePrincipal(const std::string& name) {
    kadmin("delprinc -force " + name + "\n");
}

void TestKdc::renewUserTicket() {
    kinit("10h");
}

void TestKdc::expireUserTicket() {
    kinit("1s");
    // Ticket times are whole seconds and the end is at most the next second after kinit; clients
    // call a ticket expired only once the current whole second is past its end.
    const auto issued = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::this_thread::sleep_until(issued + 2s + 20ms);
    if (runTool({KLIST_PROGRAM, "-s", "-c", credentialCache()}, toolEnvironment()).exitCode == 0)
        throw std::runtime_error("the one-second ticket did not expire");
}

void TestKdc::destroyTickets() {
    runChecked({KDESTROY_PROGRAM, "-q", "-c", credentialCache()}, toolEnvironment());
}

void TestKdc::knowRealm(const TestKdc& other) {
    realmsSection_ +=
        "    " + other.realm_ + " = {\n        kdc = 127.0.0.1:" + std::to_string(other.port_) + "\n    }\n";
    // A new file name: MIT's profile cache could otherwise keep a copy read in the same second.
    configFile_ = directory_ + "/krb5-" + std::to_string(++configVersion_) + ".conf";
    writeClientConfig(configFile_);
}

void TestKdc::stop() {
    if (kdcPid_ <= 0)
        return;
    ::kill(kdcPid_, SIGTERM);
    if (!waitForExit(kdcPid_, 3s)) {
        ::kill(kdcPid_, SIGKILL);
        waitForExit(kdcPid_, 3s);
    }
    kdcPid_ = -1;
}

void TestKdc::writeKdcConfig() const {
    const std::string& d = directory_;
    const std::string listen = "127.0.0.1:" + std::to_string(port_);
    std::ostringstream text;
    text << "[kdcdefaults]\n"
         << "    kdc_listen = " << listen << "\n"
         << "    kdc_tcp_listen = " << listen << "\n"
         << "[realms]\n"
         << "    " << realm_ << " = {\n"
         << "        database_name = " << d << "/principal\n"
         << "        key_stash_file = " << d << "/stash\n"
         << "        acl_file = " << d << "/kadm5.acl\n"
         << "        max_life = 10h\n"
         << "        max_renewable_life = 0\n"
         << "    }\n"
         << "[logging]\n"
         << "    kdc = FILE:" << d << "/kdc.log\n"
         << "    admin_server = FILE:" << d << "/kadmin.log\n"
         << "    default = FILE:" << d << "/krb5.log\n";
    writeFile(d + "/kdc.conf", text.str());
}

void TestKdc::writeClientConfig(const std::string& path) const {
    const std::string& d = directory_;
    // No DNS at all: the realm and its KDC are all spelled out, and the defaults point into the
    // directory so that nothing of the machine's own Kerberos setup is used.
    std::ostringstream text;
    text << "[libdefaults]\n"
         << "    default_realm = " << realm_ << "\n"
         << "    dns_lookup_kdc = false\n"
         << "    dns_lookup_realm = false\n"
         << "    dns_canonicalize_hostname = false\n"
         << "    rdns = false\n"
         << "    default_ccache_name = FILE:" << d << "/ccache\n"
         << "    default_keytab_name = FILE:" << d << "/service.keytab\n"
         << "    default_client_keytab_name = FILE:" << d << "/client.keytab\n"
         << "[realms]\n"
         << "    " << realm_ << " = {\n"
         << "        kdc = 127.0.0.1:" << port_ << "\n"
         << "    }\n"
         << realmsSection_;
    writeFile(path, text.str());
}

void TestKdc::startKdc() {
    std::string failure;
    for (int attempt = 0; attempt < kdcStartAttempts; ++attempt) {
        if (attempt > 0) {
            port_ = pickFreePort();
            writeKdcConfig();
            writeClientConfig(configFile_);
        }
        const std::string output = directory_ + "/krb5kdc.out";
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        // -n: stay in the foreground, so that the pid is the KDC's and stop() can end it.
        kdcPid_ = spawn({KRB5KDC_PROGRAM, "-n", "-r", realm_}, toolEnvironment(), -1, out, out);
        ::close(out);
        const auto deadline = Clock::now() + kdcStartTimeout;
        while (Clock::now() < deadline) {
            if (acceptsConnections(port_))
                return;
            int status = 0;
            if (::waitpid(kdcPid_, &status, WNOHANG) == kdcPid_) {
                kdcPid_ = -1;
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        stop();
        failure = readFile(output) + readFile(directory_ + "/kdc.log");
    }
    throw std::runtime_error("krb5kdc did not start: " + failure);
}

void TestKdc::kadmin(const std::string& commands) {
    // kadmin.local exits with 0 whatever happened; errors are what it writes to stderr.
    const ToolResult result = runChecked({KADMIN_LOCAL_PROGRAM}, toolEnvironment(), commands);
    if (!result.err.empty())
        throw std::runtime_error("kadmin.local: " + result.err);
}

void TestKdc::kinit(const std::string& lifetime) {
    runChecked({KINIT_PROGRAM, "-l", lifetime, "-c", credentialCache(), userPrincipal()}, toolEnvironment(),
               std::string(userPassword) + "\n");
}

std::map<std::string, std::string> TestKdc::toolEnvironment() const {
    return {{"KRB5_CONFIG", configFile_},
            {"KRB5_KDC_PROFILE", directory_ + "/kdc.conf"},
            {"KRB5CCNAME", credentialCache()},
            {"KRB5RCACHEDIR", directory_}};
}

KerberosEnvironment::KerberosEnvironment(const TestKdc& kdc)
    : KerberosEnvironment(kdc, kdc.configFile(), kdc.credentialCache()) {}

KerberosEnvironment::KerberosEnvironment(const TestKdc& kdc, const std::string& configFile,
                                         const std::string& credentialCache) {
    set("KRB5_CONFIG", configFile);
    set("KRB5CCNAME", credentialCache);
    // A missing client keytab: MIT would otherwise get a ticket on its own from the default one.
    set("KRB5_CLIENT_KTNAME", "FILE:" + kdc.directory() + "/client.keytab");
    set("KRB5_KTNAME", "FILE:" + kdc.keytab());
    set("KRB5RCACHEDIR", kdc.directory());
}

KerberosEnvironment::~KerberosEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

void KerberosEnvironment::set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
}

} // namespace kerberos_testing
