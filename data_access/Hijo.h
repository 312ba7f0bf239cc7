#pragma once

#include "login_shared/Descriptor.h"

#include <chrono>
#include <sys/types.h>
#include <utility>

namespace data_access {

using login_shared::Descriptor;

// A tarpelino-login process this process started or had forked (the login
// server, a login, a worker), and the sole owner of its pid and of this side
// of its channel. How every one ends: its channel closed, it is handed to the
// reaper, which reaps it without waiting once it has ended and kills it when
// its time is over; nothing but the application's end waits for a child.
// Move-only; destroying one kills it. An empty one (the default) owns nothing.
class Hijo {
public:
    Hijo() = default;
    // Takes ownership of a started child: its pid and this side of its channel.
    Hijo(pid_t pid, Descriptor canal) noexcept : pid_(pid), canal_(std::move(canal)) {}
    Hijo(Hijo&& otro) noexcept : pid_(std::exchange(otro.pid_, -1)), canal_(std::move(otro.canal_)) {}
    Hijo& operator=(Hijo&& otro) noexcept;
    Hijo(const Hijo&) = delete;
    Hijo& operator=(const Hijo&) = delete;
    ~Hijo() { mata(); }

    bool vacio() const { return pid_ < 0; }
    pid_t pid() const { return pid_; }
    int canal() const { return canal_.fd(); }

    // For a child that writes nothing unasked (the server, an idle worker): anything to
    // read, or its end closing, means it has ended. False for an empty one.
    bool vivo() const;
    // Stopped (SIGSTOP, Ctrl+Z): it cannot answer until someone lets it go on. A tracer's
    // stop ('t', a debugger or strace at each system call) is not one: it goes on by itself.
    bool detenido() const;

    // Closes the channel, which ends it, and hands it to the reaper: killed if it
    // has not ended within two seconds. This one is left empty.
    void cierra() noexcept;
    // Kills it and hands it to the reaper. This one is left empty.
    void mata() noexcept;
    // Closes the channel and waits for it to end, at most `espera`: its wait status, or 0
    // when it had not ended (killed then, and left to the reaper). This one is left empty.
    int recoge(std::chrono::milliseconds espera) noexcept;

private:
    pid_t pid_ = -1;
    Descriptor canal_;
};

// A login the server may have forked without telling its pid (it died first): only
// its channel can name it, by the pid it says first (kEnMarcha). The reaper keeps
// the channel until it does, or closes, and kills it then.
void entregaSinPid(Descriptor canal);

// Reaps the children handed over that have ended and kills those past their time.
// Never waits: one the kernel has not let go of yet (stuck in a system call) is
// reaped by a later call.
void recogeHijos() noexcept;

// Waits for every child handed over to end, killing each when its time is over:
// for the end of the application, or where children are counted.
void esperaHijos() noexcept;

} // namespace data_access
