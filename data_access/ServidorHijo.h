#pragma once

#include "login_shared/Descriptor.h"

#include <sys/types.h>
#include <utility>

namespace data_access {

using login_shared::Descriptor;

// The login server this process started (login_process/ServidorLogins.h), and
// the sole owner of its pid and of this side of its channel. Move-only:
// destroying it closes the channel, which ends the server, kills it in case
// it is stuck and reaps it. An empty one (the default) owns nothing.
class ServidorHijo {
public:
    ServidorHijo() = default;
    // Takes ownership of a started server: its pid and this side of its channel.
    ServidorHijo(pid_t pid, Descriptor canal) noexcept : pid_(pid), canal_(std::move(canal)) {}
    ServidorHijo(ServidorHijo&& otro) noexcept;
    ServidorHijo& operator=(ServidorHijo&& otro) noexcept;
    ServidorHijo(const ServidorHijo&) = delete;
    ServidorHijo& operator=(const ServidorHijo&) = delete;
    ~ServidorHijo() { termina(); }

    // The server writes nothing unasked: anything to read, or its end closing,
    // means it has ended. False for an empty one.
    bool vivo() const;
    int canal() const { return canal_.fd(); }
    // Stopped (SIGSTOP, Ctrl+Z, a debugger): it cannot answer until someone lets it go on.
    bool detenido() const;
    // Whether it has forked a login before: one that has is past its start-up.
    bool probado() const { return probado_; }
    void marcaProbado() { probado_ = true; }
    // Closes the channel and kills the server without waiting for it; its pid, for
    // the caller to reap (-1 for an empty one). This one is left empty.
    pid_t abandona() noexcept;

private:
    void termina() noexcept;

    pid_t pid_ = -1;
    Descriptor canal_;
    bool probado_ = false;
};

} // namespace data_access
