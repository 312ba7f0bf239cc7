#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace login_shared {

// Keys and host names are compared the ASCII way; values are never touched.
inline char minusculaAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The one definition of a blank, for connection strings and server names
// alike: what C's isspace calls space in the "C" locale.
inline bool esBlanco(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline std::string_view recorta(std::string_view s) {
    while (!s.empty() && esBlanco(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && esBlanco(s.back()))
        s.remove_suffix(1);
    return s;
}

// A whole decimal number with nothing before or after it.
inline std::optional<long> leeEntero(std::string_view s) {
    long valor = 0;
    const auto [fin, error] = std::from_chars(s.data(), s.data() + s.size(), valor);
    if (s.empty() || error != std::errc() || fin != s.data() + s.size())
        return std::nullopt;
    return valor;
}

inline bool igualSinMayusculas(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (minusculaAscii(a[i]) != minusculaAscii(b[i]))
            return false;
    return true;
}

} // namespace login_shared
