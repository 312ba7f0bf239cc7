#include "main_window/primerFotograma.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

class VigilantePrimerFotograma : public QObject {
public:
    VigilantePrimerFotograma(QWidget* ventana, std::function<void()> accion)
        : QObject(ventana), accion_(std::move(accion)) {}

    bool eventFilter(QObject* objeto, QEvent* evento) override {
        if (evento->type() == QEvent::Paint) {
            objeto->removeEventFilter(this);
            // A zero timer: after this paint has reached the screen, not inside it.
            QTimer::singleShot(0, objeto, std::move(accion_));
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> accion_;
};

} // namespace

void alPrimerFotograma(QWidget* ventana, std::function<void()> accion) {
    ventana->installEventFilter(new VigilantePrimerFotograma(ventana, std::move(accion)));
}
