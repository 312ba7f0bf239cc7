#pragma once

#include <functional>

namespace login_process {

// The thread a relay runs on. A worker of an estate run relays one login after
// another, and a new thread for each (its start, its stack given back at its
// end, a wake-up each way) was a noticeable share of a login's processor time:
// a thread whose work is done is kept, idle, for the next relay. Any number
// may run at once; a new one is started when no kept one is idle.
class HiloRelevo {
public:
    // Runs `trabajo` on a kept idle thread, or on a new one; throws
    // std::system_error when the system has no thread to give.
    explicit HiloRelevo(std::function<void()> trabajo);
    ~HiloRelevo(); // waits for `trabajo` to end
    HiloRelevo(const HiloRelevo&) = delete;
    HiloRelevo& operator=(const HiloRelevo&) = delete;

    struct Hilo;

private:
    Hilo* hilo_;
};

} // namespace login_process
