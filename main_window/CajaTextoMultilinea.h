#pragma once

#include <QPlainTextEdit>

// Multi-line text box: wraps at word boundaries, shows no scroll bars, lets
// Tab move the focus on, and offers "SelStart", "SelLength" and "Text" by
// name like CajaTexto.
class CajaTextoMultilinea : public QPlainTextEdit {
    Q_OBJECT
    Q_PROPERTY(int SelStart READ selStart WRITE setSelStart)
    Q_PROPERTY(int SelLength READ selLength WRITE setSelLength)
    Q_PROPERTY(QString Text READ toPlainText WRITE setPlainText)

public:
    explicit CajaTextoMultilinea(QWidget* padre = nullptr);

    int selStart() const;
    void setSelStart(int inicio);
    int selLength() const;
    void setSelLength(int longitud);
};
