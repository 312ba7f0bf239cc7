#pragma once

#include <string>

namespace login_process {

// The GnuTLS priority string every TLS session of this process gets, in
// place of the one FreeTDS fixes; empty: the caller's own. Set once, before
// the login starts.
void fijaPrioridadTls(std::string prioridad);

} // namespace login_process
