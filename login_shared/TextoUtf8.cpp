#include "login_shared/TextoUtf8.h"

#include <cstdio>
#include <unictype.h>

namespace login_shared {

namespace {

// Length of the well-formed UTF-8 sequence at `pos` and its code point, or 0.
std::size_t secuencia(std::string_view t, std::size_t pos, char32_t& punto) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(t[pos + i]); };
    const unsigned char c = b(0);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || pos + n > t.size())
        return 0;
    punto = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return 0;
        punto = punto << 6 | (b(i) & 0x3F);
    }
    static constexpr char32_t kMinimo[] = {0, 0, 0x80, 0x800, 0x10000};
    if (punto < kMinimo[n] || punto > 0x10FFFF || (punto >= 0xD800 && punto <= 0xDFFF))
        return 0;
    return n;
}

// What does not show as itself, or reorders the text around it (between
// U+202E and U+202C, "gnp.exe" reads "exe.png"), or breaks a line where a
// text is laid out: decided by the character's Unicode properties, so that
// none is missed. A character unassigned in this libunistring's Unicode
// version counts too: a terminal may draw it as nothing.
bool esInvisible(char32_t punto) {
    static const uc_general_category_t kCategorias = [] {
        uc_general_category_t c = UC_CATEGORY_Cc;
        for (const uc_general_category_t& otra :
             {UC_CATEGORY_Cf, UC_CATEGORY_Zl, UC_CATEGORY_Zp, UC_CATEGORY_Co, UC_CATEGORY_Cn})
            c = uc_general_category_or(c, otra);
        return c;
    }();
    return uc_is_general_category(punto, kCategorias) || uc_is_property_default_ignorable_code_point(punto) ||
           uc_is_property_bidi_control(punto);
}

// The surrogate whose UTF-8-shaped bytes start at `pos` (how the window and
// the login reply reader hand a lone one over), if they do.
std::optional<unsigned> sustitutoSuelto(std::string_view t, std::size_t pos) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(t[pos + i]); };
    if (pos + 2 >= t.size() || b(0) != 0xED || (b(1) & 0xE0) != 0xA0 || (b(2) & 0xC0) != 0x80)
        return std::nullopt;
    return 0xD000 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
}

std::string codigo(unsigned valor, const char* formato) {
    char texto[16];
    std::snprintf(texto, sizeof texto, formato, valor);
    return texto;
}

} // namespace

std::optional<std::string> motivoValorNoValido(std::string_view texto) {
    for (std::size_t pos = 0; pos < texto.size();) {
        char32_t punto = 0;
        const std::size_t n = secuencia(texto, pos, punto);
        if (n == 0) {
            if (const auto sustituto = sustitutoSuelto(texto, pos))
                return "un sustituto UTF-16 suelto (" + codigo(*sustituto, "U+%04X") + ")";
            return "bytes que no son UTF-8 (" + codigo(static_cast<unsigned char>(texto[pos]), "\\x%02X") +
                   ")";
        }
        if (punto == 0)
            return std::string("un carácter nulo (U+0000)");
        pos += n;
    }
    return std::nullopt;
}

std::size_t unidadesUtf16(std::string_view utf8) {
    std::size_t unidades = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t punto = 0;
        const std::size_t n = secuencia(utf8, pos, punto);
        unidades += n == 4 ? 2 : 1;
        pos += n == 0 ? 1 : n;
    }
    return unidades;
}

std::string visible(std::string_view texto) {
    std::string r;
    for (std::size_t pos = 0; pos < texto.size();) {
        char32_t punto = 0;
        const std::size_t n = secuencia(texto, pos, punto);
        if (n == 0) {
            if (const auto sustituto = sustitutoSuelto(texto, pos)) {
                r += codigo(*sustituto, "U+%04X");
                pos += 3;
                continue;
            }
            r += codigo(static_cast<unsigned char>(texto[pos]), "\\x%02X");
            ++pos;
            continue;
        }
        if (esInvisible(punto))
            r += codigo(unsigned(punto), "U+%04X");
        else
            r.append(texto, pos, n);
        pos += n;
    }
    return r;
}

} // namespace login_shared
