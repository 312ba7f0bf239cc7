#include "cursorAplicacion.h"

#include <QApplication>
#include <QCursor>

namespace probe {

void fijaCursorAplicacion(Qt::CursorShape forma) {
    if (QApplication::overrideCursor())
        QApplication::changeOverrideCursor(QCursor(forma));
    else
        QApplication::setOverrideCursor(QCursor(forma));
    // The open that follows blocks the event loop: hand the new cursor to the
    // window system now, without taking any user input.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace probe
