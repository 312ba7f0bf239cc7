#pragma once

#include <QLineEdit>

// Single-line text box. Besides QLineEdit's own API it offers the selection
// start, selection length and text under the names "SelStart", "SelLength" and
// "Text", so code can reach them by name on any control, and it announces
// every focus it gains.
class CajaTexto : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(int SelStart READ selStart WRITE setSelStart)
    Q_PROPERTY(int SelLength READ selLength WRITE setSelLength)
    Q_PROPERTY(QString Text READ text WRITE setText)

public:
    using QLineEdit::QLineEdit;

    int selStart() const;
    // Places the caret, dropping any selection.
    void setSelStart(int inicio);
    int selLength() const;
    // Selects from the current start; clipped to the text.
    void setSelLength(int longitud);

signals:
    void recibeFoco();

protected:
    void focusInEvent(QFocusEvent* evento) override;
};
