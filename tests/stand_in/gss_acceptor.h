#pragma once

#include <string>

namespace stand_in {

struct AcceptResult {
    bool accepted = false;
    std::string principal; // the client, e.g. "ana@TARPELINO.TEST"
    std::string reply;     // token for the client (the Kerberos AP-REP when it asked for mutual auth)
    std::string error;     // GSSAPI's reason when not accepted, for test diagnostics
};

// Verifies a client's first (and, for Kerberos, only) GSSAPI token against the keys in `keytab`,
// any service principal in it, as a server does with its service account's keys. FreeTDS sends raw
// Kerberos; other mechanisms are left to GSSAPI's defaults, and one that needs a further round trip
// counts as not accepted. Safe to call from several threads at once.
AcceptResult acceptSecurityToken(const std::string& keytab, const std::string& token);

// True if the SSPI blob of a LOGIN7 is an NTLMSSP message rather than a GSSAPI token.
bool isNtlmToken(const std::string& token);

} // namespace stand_in
