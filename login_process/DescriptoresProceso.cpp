#include "login_process/DescriptoresProceso.h"

#include "login_process/Textos.h"
#include "login_shared/Causa.h"
#include "login_shared/ErrorConexion.h"

#include <cerrno>
#include <dirent.h>
#include <sys/resource.h>

namespace login_process {

namespace {

// What one login may hold at once: the relay's attempts at the server's
// addresses, db-lib's socket, wake-up pair and configuration, the resolver's
// and Kerberos's files. A process
// without that many left under its limit fails somewhere inside db-lib or
// GnuTLS with an error that names memory, a timeout or nothing at all.
constexpr int kDescriptoresDeUnLogin = 24;

} // namespace

int descriptoresAbiertos() {
    int n = -3; // ".", ".." and the directory's own
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++n;
        ::closedir(dir);
    }
    return n;
}

void compruebaDescriptoresLibres() {
    rlimit limite{};
    if (::getrlimit(RLIMIT_NOFILE, &limite) != 0 || limite.rlim_cur == RLIM_INFINITY)
        return;
    const long abiertos = descriptoresAbiertos();
    if (abiertos < 0 || long(limite.rlim_cur) - abiertos < kDescriptoresDeUnLogin)
        throw login_shared::ErrorConexion(*login_shared::textos::limiteDelSistema(EMFILE),
                                          login_shared::Causa::Sistema);
}

} // namespace login_process
