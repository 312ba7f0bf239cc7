#include "main_window/CajaTextoMultilinea.h"

#include <QTextCursor>
#include <algorithm>

CajaTextoMultilinea::CajaTextoMultilinea(QWidget* padre) : QPlainTextEdit(padre) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
}

int CajaTextoMultilinea::selStart() const {
    return textCursor().selectionStart();
}

void CajaTextoMultilinea::setSelStart(int inicio) {
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::clamp(inicio, 0, int(toPlainText().size())));
    setTextCursor(cursor);
}

int CajaTextoMultilinea::selLength() const {
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

void CajaTextoMultilinea::setSelLength(int longitud) {
    QTextCursor cursor = textCursor();
    const int inicio = cursor.selectionStart();
    cursor.setPosition(inicio);
    cursor.setPosition(inicio + std::clamp(longitud, 0, int(toPlainText().size()) - inicio),
                       QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}
