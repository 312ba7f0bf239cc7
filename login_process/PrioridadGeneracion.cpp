// FreeTDS 1.3 with GnuTLS fixes its priority string ("NORMAL:%COMPAT:...")
// and has no setting for cipher suites, and the system priority file can only
// take suites away from it: NORMAL has no 3DES and no RC4, which the 2005 and
// 2008 clients offered. So tarpelino-login defines gnutls_priority_set_direct
// itself and exports it: libsybdb's call (and GnuTLS's own, from
// gnutls_set_default_priority) binds to this one, which passes the
// generation's string to GnuTLS's. Built into the executable only, never
// into a library a test links with the stand-in, whose server priorities
// must stay its own. The only TLS session of this process is FreeTDS's to
// the server (Kerberos does not use GnuTLS), so replacing every string harms
// nothing else. A workaround for FreeTDS 1.3.17: a FreeTDS setting for GnuTLS
// priorities, should one come, replaces it.
#include "login_process/PrioridadGeneracion.h"

#include <dlfcn.h>
#include <gnutls/gnutls.h>

namespace login_process {

namespace {

std::string& prioridadGeneracion() {
    static std::string prioridad;
    return prioridad;
}

} // namespace

void fijaPrioridadTls(std::string prioridad) {
    prioridadGeneracion() = std::move(prioridad);
}

} // namespace login_process

extern "C" __attribute__((visibility("default"))) int
gnutls_priority_set_direct(gnutls_session_t sesion, const char* prioridades, const char** error) {
    using Funcion = int (*)(gnutls_session_t, const char*, const char**);
    // GNUTLS_3_4 is the version libsybdb's reference asks for.
    static const auto real =
        reinterpret_cast<Funcion>(::dlvsym(RTLD_NEXT, "gnutls_priority_set_direct", "GNUTLS_3_4"));
    if (!real)
        return GNUTLS_E_INTERNAL_ERROR;
    const std::string& propia = login_process::prioridadGeneracion();
    // A refused string fails the session: never the FreeTDS default, which offers other versions and suites.
    return real(sesion, propia.empty() ? prioridades : propia.c_str(), error);
}
