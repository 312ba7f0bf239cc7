#include "tests/stand_in/ucs2.h"

#include <cctype>
#include <cstdint>

namespace stand_in {

namespace {

constexpr char32_t replacementChar = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUnit(std::string& out, std::uint16_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// Decodes one code point starting at text[i], advancing i; malformed input yields U+FFFD.
char32_t nextCodePoint(const std::string& text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return replacementChar;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return replacementChar;
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    return cp > 0x10FFFF ? replacementChar : cp;
}

} // namespace

std::string utf16leToUtf8(const std::string& bytes) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&bytes](std::size_t k) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                          (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (std::size_t k = 0; k < units; ++k) {
        const std::uint16_t unit = unitAt(k);
        if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < units) {
            const std::uint16_t low = unitAt(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        appendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? replacementChar : unit);
    }
    return out;
}

std::string utf8ToUtf16le(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = nextCodePoint(text, i);
        if (cp >= 0x10000) {
            appendUnit(out, static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            appendUnit(out, static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            appendUnit(out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

std::size_t utf16Units(const std::string& text) {
    return utf8ToUtf16le(text).size() / 2;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace stand_in
