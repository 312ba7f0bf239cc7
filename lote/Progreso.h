#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>

namespace lote {

// A bar on one terminal line, redrawn in place:
// "[#####     ] 12/40 servidores, 3 con fallos, quedan 1 min 5 s".
// Only for a terminal; the caller decides.
class Progreso {
public:
    using Reloj = std::chrono::steady_clock;

    Progreso(std::ostream& salida, std::size_t total, std::size_t anchura);
    // `fallidos`: the servers done with a pass that did not log in.
    void avanza(std::size_t hechos, std::size_t fallidos, Reloj::time_point ahora = Reloj::now());
    // Clears the line, so what follows starts on a clean one.
    void termina();

private:
    std::ostream& salida_;
    std::size_t total_;
    std::size_t anchura_;
    Reloj::time_point inicio_;
    Reloj::time_point dibujada_;
    std::size_t dibujados_ = std::size_t(-1);
    std::size_t fallidos_ = 0;
    bool empezada_ = false;
};

} // namespace lote
