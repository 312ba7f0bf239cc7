#include "main_window/fuentes.h"

#include <QStringList>

QFont fuenteMsSansSerif(qreal puntos, QFont::Weight peso) {
    QFont fuente;
    // Measured at 8 pt, 96 dpi against MS Sans Serif's caption widths, Liberation
    // Sans is off by 2.3 px on average (DejaVu Sans Condensed too, DejaVu Sans
    // by 8.4 px, overflowing "Servidor *"); it is also the same grotesque design.
    fuente.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                        QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed"),
                        QStringLiteral("DejaVu Sans")});
    fuente.setStyleHint(QFont::SansSerif);
    fuente.setPointSizeF(puntos);
    fuente.setWeight(peso);
    return fuente;
}
