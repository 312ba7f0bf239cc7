#include "login_shared/Secreto.h"

#include <cstring>
#include <utility>

namespace login_shared {

void borraSecreto(std::string& secreto) noexcept {
    // Up to its capacity: a shorter secret may have left bytes beyond its size.
    secreto.resize(secreto.capacity());
    ::explicit_bzero(secreto.data(), secreto.size());
    secreto.clear();
}

void borraSecreto(Secreto& secreto) noexcept {
    borraSecreto(secreto.texto());
}

// A moved std::string keeps a short text's bytes in its own inline buffer,
// and a long one may be handed the buffer it is moved over: both are wiped.
Secreto::Secreto(std::string&& texto) noexcept : texto_(std::move(texto)) {
    borraSecreto(texto);
}

Secreto::Secreto(Secreto&& otro) noexcept : texto_(std::move(otro.texto_)) {
    borraSecreto(otro.texto_);
}

Secreto& Secreto::operator=(const Secreto& otro) {
    if (this != &otro) {
        borraSecreto(texto_);
        texto_ = otro.texto_;
    }
    return *this;
}

Secreto& Secreto::operator=(Secreto&& otro) noexcept {
    if (this != &otro)
        *this = std::move(otro.texto_);
    return *this;
}

Secreto& Secreto::operator=(std::string&& texto) noexcept {
    borraSecreto(texto_);
    texto_ = std::move(texto);
    borraSecreto(texto);
    return *this;
}

} // namespace login_shared
