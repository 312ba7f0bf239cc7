#pragma once

#include <QRect>
#include <QtGlobal>

// Layout measures are twips (1/1440 inch); pixels follow the screen's logical
// resolution, 15 twips per pixel at 96 dpi.
inline int twipsAPixeles(int twips, int dpi) {
    return qRound(twips * double(dpi) / 1440.0);
}

inline QRect rectanguloTwips(int izquierda, int arriba, int ancho, int alto, int dpiX, int dpiY) {
    return QRect(twipsAPixeles(izquierda, dpiX), twipsAPixeles(arriba, dpiY), twipsAPixeles(ancho, dpiX),
                 twipsAPixeles(alto, dpiY));
}
