#pragma once

#include <QFont>

// The window's face is MS Sans Serif; where it is missing, the closest
// installed sans-serif face stands in at the same size and weight.
QFont fuenteMsSansSerif(qreal puntos, QFont::Weight peso = QFont::Normal);
