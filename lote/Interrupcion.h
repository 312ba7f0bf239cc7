#pragma once

#include "login_shared/Descriptor.h"

#include <atomic>

namespace lote {

// SIGINT, SIGTERM and SIGHUP, taken as a request to end the run early rather
// than as the end of the process: blocked from construction on, in this
// thread and every thread it starts after, and read by `espera`.
class Interrupcion {
public:
    Interrupcion();
    Interrupcion(const Interrupcion&) = delete;
    Interrupcion& operator=(const Interrupcion&) = delete;

    // From any thread: `espera` returns.
    void avisaFin();
    // Until `avisaFin` or one of the signals: the signal's number, or 0.
    int espera();
    // One of them has come, whether `espera` has taken it or not.
    bool pendiente() const;

private:
    login_shared::Descriptor senales_;
    login_shared::Descriptor fin_;
    std::atomic<bool> llegada_{false};
};

} // namespace lote
