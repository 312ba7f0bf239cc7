#pragma once

// Checks shared by the fuzz targets: a failed property prints what broke and
// aborts, so libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void falla(const char* propiedad, std::string_view detalle = {}) {
    std::fprintf(stderr, "\n*** property violated: %s\n", propiedad);
    if (!detalle.empty()) {
        std::fprintf(stderr, "*** detail (C escaped): \"");
        for (unsigned char c : detalle) {
            if (c == '"' || c == '\\')
                std::fprintf(stderr, "\\%c", c);
            else if (c >= 0x20 && c < 0x7f)
                std::fputc(c, stderr);
            else
                std::fprintf(stderr, "\\x%02x", c);
        }
        std::fprintf(stderr, "\"\n");
    }
    std::abort();
}

inline void exige(bool condicion, const char* propiedad, std::string_view detalle = {}) {
    if (!condicion)
        falla(propiedad, detalle);
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool esUtf8Valido(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        unsigned char min2 = 0x80, max2 = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                min2 = 0xA0;
            else if (c == 0xED)
                max2 = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                min2 = 0x90;
            else if (c == 0xF4)
                max2 = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            const unsigned char lo = k == 1 ? min2 : 0x80, hi = k == 1 ? max2 : 0xBF;
            if (d < lo || d > hi)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

// What every refusal must carry: a description, in UTF-8 whenever the input was.
inline void compruebaDescripcionError(const std::string& error, bool entradaUtf8) {
    exige(!error.empty(), "empty error description");
    if (entradaUtf8)
        exige(esUtf8Valido(error), "error description is not UTF-8 for UTF-8 input", error);
}

} // namespace fuzz
