#include "login_process/ConPlazo.h"

#include <atomic>

namespace data_access {

namespace {
std::atomic<bool> gAbandonado{false};
} // namespace

bool hayTrabajoAbandonado() {
    return gAbandonado.load();
}

void marcaTrabajoAbandonado() {
    gAbandonado.store(true);
}

} // namespace data_access
