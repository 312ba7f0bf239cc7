#pragma once

#include <chrono>
#include <optional>

namespace login_shared {

// The time left for one open: name resolution, instance lookup and login
// all draw from the same budget. An empty limit means "wait forever".
class Plazo {
public:
    using Reloj = std::chrono::steady_clock;

    // `yaTranscurrido`: what another process already spent of the same budget.
    explicit Plazo(std::optional<std::chrono::milliseconds> limite,
                   std::chrono::milliseconds yaTranscurrido = std::chrono::milliseconds(0))
        : limite_(limite), inicio_(Reloj::now() - yaTranscurrido) {}

    bool ilimitado() const { return !limite_; }
    std::chrono::milliseconds limite() const { return limite_.value_or(std::chrono::milliseconds(0)); }

    // Milliseconds left, never negative; meaningless when unlimited.
    std::chrono::milliseconds restante() const {
        if (!limite_)
            return std::chrono::milliseconds::max();
        const auto usado = transcurrido();
        return usado >= *limite_ ? std::chrono::milliseconds(0) : *limite_ - usado;
    }

    std::chrono::milliseconds transcurrido() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - inicio_);
    }

    bool agotado() const { return limite_ && restante().count() == 0; }

private:
    std::optional<std::chrono::milliseconds> limite_;
    Reloj::time_point inicio_;
};

} // namespace login_shared
