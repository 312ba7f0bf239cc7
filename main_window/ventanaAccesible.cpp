#include "main_window/ventanaAccesible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace {

class VentanaAccesible : public QAccessibleWidget {
public:
    explicit VentanaAccesible(QWidget* ventana) : QAccessibleWidget(ventana, QAccessible::Window) {}
};

QAccessibleInterface* fabricaAccesible(const QString& clase, QObject* objeto) {
    auto* widget = qobject_cast<QWidget*>(objeto);
    if (widget && widget->isWindow() && clase == QLatin1String("frmPrincipal"))
        return new VentanaAccesible(widget);
    return nullptr;
}

} // namespace

void instalaAccesibilidadVentana() {
    static const bool instalada = (QAccessible::installFactory(fabricaAccesible), true);
    (void)instalada;
}
