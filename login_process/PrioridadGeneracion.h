#pragma once

#include <string>

namespace data_access {

// The GnuTLS priority string every TLS session of this process gets, in
// place of the one FreeTDS fixes; empty: the caller's own. Set once, before
// the login starts.
void fijaPrioridadTls(std::string prioridad);

} // namespace data_access
