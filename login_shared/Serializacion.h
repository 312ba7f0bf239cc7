#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace login_shared {

// The payloads' encoding: numbers as 8 little-endian bytes, texts as their length and bytes.
class Escritor {
public:
    void numero(std::uint64_t n) {
        for (int i = 0; i < 8; ++i)
            datos_.push_back(char((n >> (8 * i)) & 0xFF));
    }
    void texto(const std::string& s) {
        numero(s.size());
        datos_ += s;
    }
    void textos(const std::vector<std::string>& lista) {
        numero(lista.size());
        for (const std::string& s : lista)
            texto(s);
    }
    std::string datos_;
};

class Lector {
public:
    explicit Lector(const std::string& datos) : datos_(datos) {}
    std::uint64_t numero() {
        if (datos_.size() - pos_ < 8)
            throw std::runtime_error("petición de login truncada");
        std::uint64_t n = 0;
        for (int i = 0; i < 8; ++i)
            n |= std::uint64_t(static_cast<unsigned char>(datos_[pos_ + i])) << (8 * i);
        pos_ += 8;
        return n;
    }
    std::string texto() {
        const std::uint64_t n = numero();
        if (n > datos_.size() - pos_)
            throw std::runtime_error("petición de login truncada");
        std::string s = datos_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    std::vector<std::string> textos() {
        const std::uint64_t n = numero();
        // Each text takes at least its 8-byte length: a count beyond that is a lie.
        if (n > (datos_.size() - pos_) / 8)
            throw std::runtime_error("petición de login truncada");
        std::vector<std::string> lista;
        lista.reserve(n);
        for (std::uint64_t i = 0; i < n; ++i)
            lista.push_back(texto());
        return lista;
    }

private:
    const std::string& datos_;
    std::size_t pos_ = 0;
};

} // namespace login_shared
