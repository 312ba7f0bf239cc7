#pragma once

#include <optional>
#include <string>

namespace login_process {

// Why integrated security cannot start, or nothing when a usable Kerberos
// ticket is in the default credential cache. FreeTDS alone only reports a
// generic login failure in that case.
std::optional<std::string> faltaTicketKerberos();

} // namespace login_process
