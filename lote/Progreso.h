#pragma once

#include <cstddef>
#include <ostream>

namespace lote {

// A bar on one terminal line, redrawn in place: "[#####     ] 12/40".
// Only for a terminal; the caller decides.
class Progreso {
public:
    Progreso(std::ostream& salida, std::size_t total, std::size_t anchura);
    void avanza(std::size_t hechos);
    // Clears the line, so what follows starts on a clean one.
    void termina();

private:
    std::ostream& salida_;
    std::size_t total_;
    std::size_t anchuraBarra_;
    std::size_t dibujados_ = std::size_t(-1);
};

} // namespace lote
