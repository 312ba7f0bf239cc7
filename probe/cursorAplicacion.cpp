#include "cursorAplicacion.h"

#include <QApplication>
#include <QCursor>

namespace probe {

void fijaCursorAplicacion(Qt::CursorShape forma) {
    if (QApplication::overrideCursor())
        QApplication::changeOverrideCursor(QCursor(forma));
    else
        QApplication::setOverrideCursor(QCursor(forma));
}

} // namespace probe
