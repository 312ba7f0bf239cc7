#include "main_window/CajaTexto.h"

#include <algorithm>

int CajaTexto::selStart() const {
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

void CajaTexto::setSelStart(int inicio) {
    deselect();
    setCursorPosition(std::clamp(inicio, 0, int(text().size())));
}

int CajaTexto::selLength() const {
    return selectionLength();
}

void CajaTexto::setSelLength(int longitud) {
    const int inicio = selStart();
    const int clipped = std::clamp(longitud, 0, int(text().size()) - inicio);
    if (clipped > 0)
        setSelection(inicio, clipped);
    else
        setSelStart(inicio);
}

void CajaTexto::focusInEvent(QFocusEvent* evento) {
    QLineEdit::focusInEvent(evento);
    emit recibeFoco();
}
