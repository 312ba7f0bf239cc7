#include "lote/Progreso.h"

#include <algorithm>
#include <string>

namespace lote {

namespace {

using namespace std::chrono_literals;

// Narrower than this, a bar says little: the counts alone.
constexpr std::size_t kBarraMinima = 10;
constexpr std::size_t kBarraMaxima = 50;
// The time left moves by itself: redrawn at most this often, else only as the bar or the failures change.
constexpr auto kCadaCuanto = 500ms;
// Before this, the rate says more of the first servers than of the run.
constexpr auto kAntesDeEstimar = 1s;

std::size_t ancho(const std::string& texto) {
    std::size_t n = 0;
    for (unsigned char c : texto)
        n += (c & 0xC0) != 0x80;
    return n;
}

// "45 s", "3 min 5 s", "2 h 10 min".
std::string duracion(long long segundos) {
    if (segundos < 60)
        return std::to_string(segundos) + " s";
    if (segundos < 3600)
        return std::to_string(segundos / 60) + " min " + std::to_string(segundos % 60) + " s";
    return std::to_string(segundos / 3600) + " h " + std::to_string(segundos % 3600 / 60) + " min";
}

} // namespace

Progreso::Progreso(std::ostream& salida, std::size_t total, std::size_t anchura)
    : salida_(salida), total_(total), anchura_(anchura), inicio_(Reloj::now()) {}

void Progreso::avanza(std::size_t hechos, std::size_t fallidos, Reloj::time_point ahora) {
    if (total_ == 0)
        return;
    hechos = std::min(hechos, total_);
    std::string texto = std::to_string(hechos) + "/" + std::to_string(total_) + " servidores";
    if (fallidos != 0)
        texto += ", " + std::to_string(fallidos) + " con fallos";
    // The rate so far, once there is one to go by.
    const auto transcurrido = ahora - inicio_;
    if (hechos != 0 && hechos != total_ && transcurrido >= kAntesDeEstimar) {
        const double porServidor = std::chrono::duration<double>(transcurrido).count() / double(hechos);
        texto += ", quedan " + duracion((long long)(porServidor * double(total_ - hechos) + 0.5));
    }
    const std::size_t libre = anchura_ > ancho(texto) + 4 ? anchura_ - ancho(texto) - 4 : 0;
    const std::size_t anchoBarra = libre < kBarraMinima ? 0 : std::min(libre, kBarraMaxima);
    const std::size_t llenos = anchoBarra * hechos / total_;
    // Redrawn only when it changes, or a thousand servers write a thousand lines.
    if (empezada_ && llenos == dibujados_ && fallidos == fallidos_ && hechos != total_ &&
        ahora - dibujada_ < kCadaCuanto)
        return;
    empezada_ = true;
    dibujados_ = llenos;
    fallidos_ = fallidos;
    dibujada_ = ahora;
    salida_ << '\r';
    if (anchoBarra != 0)
        salida_ << '[' << std::string(llenos, '#') << std::string(anchoBarra - llenos, ' ') << "] ";
    salida_ << texto << "\033[K" << std::flush;
}

void Progreso::termina() {
    if (empezada_)
        salida_ << "\r\033[K" << std::flush;
}

} // namespace lote
