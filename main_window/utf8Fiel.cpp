#include "main_window/utf8Fiel.h"

std::string utf8Fiel(const QString& texto) {
    std::string r;
    r.reserve(std::size_t(texto.size()) * 3);
    const auto anade = [&r](char32_t c) {
        if (c < 0x80) {
            r += char(c);
        } else if (c < 0x800) {
            r += char(0xC0 | (c >> 6));
            r += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            r += char(0xE0 | (c >> 12));
            r += char(0x80 | ((c >> 6) & 0x3F));
            r += char(0x80 | (c & 0x3F));
        } else {
            r += char(0xF0 | (c >> 18));
            r += char(0x80 | ((c >> 12) & 0x3F));
            r += char(0x80 | ((c >> 6) & 0x3F));
            r += char(0x80 | (c & 0x3F));
        }
    };
    for (qsizetype i = 0; i < texto.size(); ++i) {
        const QChar c = texto.at(i);
        if (c.isHighSurrogate() && i + 1 < texto.size() && texto.at(i + 1).isLowSurrogate()) {
            anade(QChar::surrogateToUcs4(c, texto.at(i + 1)));
            ++i;
        } else {
            anade(c.unicode());
        }
    }
    return r;
}
