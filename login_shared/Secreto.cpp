#include "login_shared/Secreto.h"

#include <cstring>

namespace login_shared {

void borraSecreto(std::string& secreto) noexcept {
    // Up to its capacity: a shorter secret may have left bytes beyond its size.
    secreto.resize(secreto.capacity());
    ::explicit_bzero(secreto.data(), secreto.size());
    secreto.clear();
}

} // namespace login_shared
