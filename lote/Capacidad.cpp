#include "lote/Capacidad.h"

#include <algorithm>
#include <cstdlib>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace lote {

namespace {

// Descriptors each login holds here (its channel, a pidfd while it ends) and
// those the program keeps for itself.
constexpr rlim_t kDescriptoresPorLogin = 3;
constexpr rlim_t kDescriptoresPropios = 64;

int procesadores() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
        return CPU_COUNT(&cpus);
    const long enLinea = ::sysconf(_SC_NPROCESSORS_ONLN);
    return enLinea > 0 ? int(enLinea) : 1;
}

} // namespace

int paraleloDelEquipo() {
    const int cpus = procesadores();
    long limite = long(cpus) * kLoginsPorProcesador;
    // Processors other programs hold are not ours: with twice as much runnable
    // work as processors, each login's share of them is half.
    double carga = 0;
    if (::getloadavg(&carga, 1) == 1 && carga > cpus)
        limite = long(double(limite) * cpus / carga);
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
        limite = std::min<long>(limite, long(r.rlim_cur > kDescriptoresPropios
                                                 ? (r.rlim_cur - kDescriptoresPropios) / kDescriptoresPorLogin
                                                 : 1));
    // Every login is a process of this user, and the user has others.
    if (::getrlimit(RLIMIT_NPROC, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
        limite = std::min<long>(limite, long(r.rlim_cur / 4));
    return int(std::max<long>(limite, 1));
}

} // namespace lote
