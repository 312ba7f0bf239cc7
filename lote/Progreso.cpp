#include "lote/Progreso.h"

#include <algorithm>
#include <string>

namespace lote {

namespace {
// Room for " 1000/1000 servidores" and the brackets.
constexpr std::size_t kTextoAparte = 24;
} // namespace

Progreso::Progreso(std::ostream& salida, std::size_t total, std::size_t anchura)
    : salida_(salida), total_(total),
      anchuraBarra_(std::clamp<std::size_t>(anchura > kTextoAparte ? anchura - kTextoAparte : 10, 10, 50)) {}

void Progreso::avanza(std::size_t hechos) {
    if (total_ == 0)
        return;
    const std::size_t llenos = anchuraBarra_ * std::min(hechos, total_) / total_;
    // Redrawn only when it changes, or a thousand servers write a thousand lines.
    if (llenos == dibujados_ && hechos != total_)
        return;
    dibujados_ = llenos;
    salida_ << "\r[" << std::string(llenos, '#') << std::string(anchuraBarra_ - llenos, ' ') << "] " << hechos
            << '/' << total_ << " servidores" << std::flush;
}

void Progreso::termina() {
    if (dibujados_ != std::size_t(-1))
        salida_ << "\r\033[K" << std::flush;
}

} // namespace lote
