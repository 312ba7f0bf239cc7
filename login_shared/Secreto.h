#pragma once

#include <string>

namespace login_shared {

// Overwrites a secret's whole buffer before letting it go: a freed block
// keeps its bytes until reused, and a core file or a read of the memory
// would show them.
void borraSecreto(std::string& secreto) noexcept;

// A password. Its bytes are wiped when it goes, when it is assigned over and
// when it is moved from, so that no buffer of it is ever freed with them
// still there. A copy is made only on purpose (the constructor is explicit):
// each one is one more to wipe.
class Secreto {
public:
    Secreto() noexcept = default;
    // Takes the text's bytes, and wipes what the string still holds of them.
    explicit Secreto(std::string&& texto) noexcept;
    explicit Secreto(const std::string& texto) : texto_(texto) {}
    explicit Secreto(const Secreto& otro) : texto_(otro.texto_) {}
    Secreto(Secreto&& otro) noexcept;
    Secreto& operator=(const Secreto& otro);
    Secreto& operator=(Secreto&& otro) noexcept;
    Secreto& operator=(std::string&& texto) noexcept;
    ~Secreto() { borraSecreto(texto_); }

    const std::string& texto() const noexcept { return texto_; }
    // For a conversion in place: what is written here is wiped with the rest.
    std::string& texto() noexcept { return texto_; }

private:
    std::string texto_;
};

// Wipes it now, before its owner goes: nothing needs it any more.
void borraSecreto(Secreto& secreto) noexcept;

} // namespace login_shared
