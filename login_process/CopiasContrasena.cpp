#include "login_process/CopiasContrasena.h"

namespace login_process {

int CopiasContrasena::anota(std::function<void()> borra) {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    if (borradas_)
        borra();
    copias_.push_back(std::move(borra));
    return int(copias_.size()) - 1;
}

void CopiasContrasena::retira(int numero) {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    if (numero >= 0 && std::size_t(numero) < copias_.size())
        copias_[std::size_t(numero)] = nullptr;
}

void CopiasContrasena::borraTodas() {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    borradas_ = true;
    for (const auto& borra : copias_)
        if (borra)
            borra();
}

} // namespace login_process
