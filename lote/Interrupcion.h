#pragma once

#include "login_shared/Descriptor.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace lote {

// SIGINT, SIGTERM and SIGHUP, taken as a request to end the run early rather
// than as the end of the process: blocked from construction on, in this
// thread and every thread it starts after, and read by a thread of its own.
// Whatever the rest is doing (a write to a pipe nobody reads never returns),
// the first signal ends the process with 128 and its number within
// kGracia, and a second one at once.
class Interrupcion {
public:
    // Long enough to write what was done to a reader that keeps up.
    static constexpr std::chrono::milliseconds kGracia{1000};

    Interrupcion();
    // A signal already taken ends the process here, with its status.
    ~Interrupcion();
    Interrupcion(const Interrupcion&) = delete;
    Interrupcion& operator=(const Interrupcion&) = delete;

    // From any thread: `espera` returns.
    void avisaFin();
    // Until `avisaFin` or one of the signals: the signal's number, or 0.
    int espera();

private:
    void vigila();

    login_shared::Descriptor senales_;
    login_shared::Descriptor fin_;
    login_shared::Descriptor cierre_;
    std::atomic<int> senal_{0};
    std::thread vigilante_;
};

} // namespace lote
