#include "main_window/frmPrincipal.h"

#include <QMetaObject>
#include <QVariant>

namespace {

bool tienePropiedad(const QObject* control, const char* nombre) {
    return control->metaObject()->indexOfProperty(nombre) >= 0;
}

} // namespace

void frmPrincipal::seleccionaTexto(QObject* editC) noexcept {
    if (!editC)
        return;
    // Each step is skipped on its own when the control cannot do it.
    try {
        if (tienePropiedad(editC, "SelStart"))
            editC->setProperty("SelStart", 0);
    } catch (...) {
    }
    try {
        if (tienePropiedad(editC, "Text") && tienePropiedad(editC, "SelLength")) {
            const QVariant texto = editC->property("Text");
            if (texto.canConvert<QString>())
                editC->setProperty("SelLength", int(texto.toString().size()));
        }
    } catch (...) {
    }
}
