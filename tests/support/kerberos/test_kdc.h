#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kerberos_testing {

// A real MIT KDC (krb5kdc) for its own realm on 127.0.0.1, living in a temporary directory with its
// own krb5.conf, kdc.conf, database, keytab and credential cache; nothing outside that directory is
// read or written. The constructor creates the user `ana` and gets her a ticket; the destructor stops
// the KDC and removes the directory. Throws std::runtime_error when any step fails.
//
//     kerberos_testing::TestKdc kdc;                       // TARPELINO.TEST, ana has a ticket
//     kdc.addServicePrincipal(TestKdc::sqlServerPrincipal("127.0.0.1", server.port()));
//     config.keytab = kdc.keytab();                        // the server side
//     kerberos_testing::KerberosEnvironment env(kdc);      // the client side, this process and its children
//     ... integrated login to 127.0.0.1:<port> ...
class TestKdc {
public:
    static constexpr const char* defaultRealm = "TARPELINO.TEST";
    static constexpr const char* userName = "ana";
    static constexpr const char* userPassword = "Clave-de-Ana-1";

    explicit TestKdc(std::string realm = defaultRealm);
    ~TestKdc();
    TestKdc(const TestKdc&) = delete;
    TestKdc& operator=(const TestKdc&) = delete;

    // "MSSQLSvc/<host>:<port>", the name FreeTDS asks a ticket for (host exactly as it will ask:
    // FreeTDS replaces a dotless host by its canonical name when that has a dot).
    static std::string sqlServerPrincipal(const std::string& host, std::uint16_t port);

    const std::string& realm() const { return realm_; }
    std::string userPrincipal() const; // "ana@TARPELINO.TEST"
    const std::string& directory() const { return directory_; }
    std::uint16_t port() const { return port_; }
    // KRB5_CONFIG for clients: default realm, this KDC, and those added with knowRealm().
    const std::string& configFile() const { return configFile_; }
    // KRB5CCNAME holding ana's ticket ("FILE:<dir>/ccache").
    std::string credentialCache() const;
    // Keys of every principal added with addServicePrincipal(..., true); a plain path.
    std::string keytab() const;

    // Creates a service principal with a random key; with `inKeytab` also writes its key to keytab().
    void addServicePrincipal(const std::string& name, bool inKeytab = true);
    // Deletes a principal from the KDC (a keytab keeps its old keys).
    void removePrincipal(const std::string& name);

    // A fresh ticket for ana into credentialCache(), replacing whatever was there.
    void renewUserTicket();
    // Leaves an expired ticket for ana in credentialCache(); takes up to two seconds.
    void expireUserTicket();
    // Empties credentialCache() (kdestroy).
    void destroyTickets();

    // Writes a new configFile() that also lists `other`'s realm and KDC, so that clients can reach
    // both. Take configFile() (or build a KerberosEnvironment) after calling this.
    void knowRealm(const TestKdc& other);

    // Stops the KDC: from then on it is unreachable (the port refuses connections).
    void stop();
    bool running() const { return kdcPid_ > 0; }

private:
    void writeKdcConfig() const;
    void writeClientConfig(const std::string& path) const;
    void startKdc();
    // Runs kadmin.local with `commands` on stdin; throws if it reports an error.
    void kadmin(const std::string& commands);
    void kinit(const std::string& lifetime);
    std::map<std::string, std::string> toolEnvironment() const;

    std::string realm_;
    std::string directory_;
    std::string configFile_;
    std::string realmsSection_; // extra [realms] entries added by knowRealm()
    int configVersion_ = 0;
    std::uint16_t port_ = 0;
    pid_t kdcPid_ = -1;
};

// Points this process (and the children it starts from now on) at a KDC's configuration and a
// credential cache: KRB5_CONFIG, KRB5CCNAME, plus KRB5_CLIENT_KTNAME and KRB5RCACHEDIR so that no
// system client keytab or replay cache is used. Restores the previous values on destruction.
// Not thread-safe (setenv): create it while no other thread is inside Kerberos.
class KerberosEnvironment {
public:
    explicit KerberosEnvironment(const TestKdc& kdc);
    // Another combination, e.g. one realm's configuration with another realm's ticket.
    KerberosEnvironment(const TestKdc& kdc, const std::string& configFile,
                        const std::string& credentialCache);
    ~KerberosEnvironment();
    KerberosEnvironment(const KerberosEnvironment&) = delete;
    KerberosEnvironment& operator=(const KerberosEnvironment&) = delete;

private:
    void set(const char* name, const std::string& value);

    std::map<std::string, std::optional<std::string>> saved_;
};

} // namespace kerberos_testing
