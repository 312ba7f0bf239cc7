#include "main_window/cursorAplicacion.h"

#include <QApplication>
#include <QCursor>

void fijaCursorAplicacion(Qt::CursorShape forma) {
    if (QApplication::overrideCursor())
        QApplication::changeOverrideCursor(QCursor(forma));
    else
        QApplication::setOverrideCursor(QCursor(forma));
    // Hand the new cursor to the window system now, taking no user input: a
    // run takes none while it lasts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
