#pragma once

#include <string_view>

namespace data_access {

// Keys and host names are compared the ASCII way; values are never touched.
inline char minusculaAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline bool igualSinMayusculas(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (minusculaAscii(a[i]) != minusculaAscii(b[i]))
            return false;
    return true;
}

} // namespace data_access
