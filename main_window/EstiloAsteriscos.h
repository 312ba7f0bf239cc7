#pragma once

#include <QProxyStyle>

// Masks password boxes with "*" instead of the style's bullet.
class EstiloAsteriscos : public QProxyStyle {
public:
    int styleHint(StyleHint pista, const QStyleOption* opcion = nullptr, const QWidget* control = nullptr,
                  QStyleHintReturn* retorno = nullptr) const override {
        if (pista == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(pista, opcion, control, retorno);
    }
};
