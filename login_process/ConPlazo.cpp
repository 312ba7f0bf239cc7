#include "login_process/ConPlazo.h"

#include <atomic>

namespace login_process {

namespace {
std::atomic<bool> gAbandonado{false};
} // namespace

bool hayTrabajoAbandonado() {
    return gAbandonado.load();
}

void marcaTrabajoAbandonado() {
    gAbandonado.store(true);
}

} // namespace login_process
