#pragma once

#include "login_shared/Plazo.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace login_process {

using login_shared::Plazo;

// Whether some work given to conPlazo is still running after its deadline.
bool hayTrabajoAbandonado();
void marcaTrabajoAbandonado();

// Runs `trabajo` on a thread of its own and waits for it within the time
// left; nothing when the deadline came first. A library call that cannot be
// given a deadline (Kerberos retrying a KDC that never answers for half a
// minute) is then left running, and the process ends without waiting for it.
template <class T> std::optional<T> conPlazo(const Plazo& plazo, std::function<T()> trabajo) {
    struct Estado {
        std::mutex mutex;
        std::condition_variable hecho;
        std::optional<T> resultado;
    };
    auto estado = std::make_shared<Estado>();
    std::thread([estado, trabajo = std::move(trabajo)] {
        T r = trabajo();
        std::lock_guard<std::mutex> cerrojo(estado->mutex);
        estado->resultado = std::move(r);
        estado->hecho.notify_all();
    }).detach();
    std::unique_lock<std::mutex> cerrojo(estado->mutex);
    const auto listo = [&] { return estado->resultado.has_value(); };
    if (plazo.ilimitado())
        estado->hecho.wait(cerrojo, listo);
    else if (!estado->hecho.wait_for(cerrojo, plazo.restante(), listo)) {
        marcaTrabajoAbandonado();
        return std::nullopt;
    }
    return std::move(estado->resultado);
}

} // namespace login_process
