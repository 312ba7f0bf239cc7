#pragma once

#include <optional>
#include <string>

namespace data_access {

// Asks Kerberos for the service ticket db-lib is about to ask for, and says
// in Spanish why it cannot be had (expired ticket, unknown SPN, unreachable
// KDC, a ticket of another realm...), or nothing when it can. db-lib reports
// every one of these as the same bare 20002. Nothing reaches the server; the
// ticket stays in the cache for db-lib.
std::optional<std::string> faltaTicketDeServicio(const std::string& spn);

} // namespace data_access
