#pragma once

#include "login_shared/ErrorConexion.h"
#include "login_shared/Plazo.h"

#include <optional>
#include <string>

namespace login_process {

using login_shared::ErrorConexion;
using login_shared::Plazo;

// Asks Kerberos for the service ticket db-lib is about to ask for, and says
// in Spanish why it cannot be had (expired ticket, unknown SPN, unreachable
// KDC, a ticket of another realm...), or nothing when it can. db-lib reports
// every one of these as the same bare 20002. Nothing reaches the server; the
// ticket stays in the cache for db-lib. A KDC that does not answer within
// the time left is named as such (Causa::Tiempo); `destino` is the server, for that text.
std::optional<ErrorConexion> faltaTicketDeServicio(const std::string& spn, const Plazo& plazo,
                                                   const std::string& destino);

} // namespace login_process
