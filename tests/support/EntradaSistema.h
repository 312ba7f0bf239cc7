#pragma once

#include <QObject>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <qpa/qwindowsysteminterface.h>
#include <vector>

// Input as the window system hands it to a window: queued for the event loop
// (held while a run excludes user input), not delivered on the spot as QTest
// does. Needs Qt6::GuiPrivate.

using EntregaAsincrona = QWindowSystemInterface::AsynchronousDelivery;

// `tipo` is QEvent::KeyPress or QEvent::KeyRelease.
inline void teclaDelSistema(QWindow* ventana, QEvent::Type tipo, Qt::Key tecla, const QString& texto = {}) {
    QWindowSystemInterface::handleKeyEvent<EntregaAsincrona>(ventana, tipo, tecla, Qt::NoModifier, texto);
}

inline void teclaDelSistema(QWindow* ventana, Qt::Key tecla, const QString& texto = {}) {
    teclaDelSistema(ventana, QEvent::KeyPress, tecla, texto);
    teclaDelSistema(ventana, QEvent::KeyRelease, tecla, texto);
}

// The left button pressed or let go (QEvent::MouseButtonPress or
// QEvent::MouseButtonRelease) over the middle of `control`.
inline void botonDelSistema(QWidget* control, QEvent::Type tipo) {
    QWindow* ventana = control->window()->windowHandle();
    const QPointF local = control->mapTo(control->window(), control->rect().center());
    const QPointF global = ventana->mapToGlobal(local.toPoint());
    const Qt::MouseButtons pulsados = tipo == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QWindowSystemInterface::handleMouseEvent<EntregaAsincrona>(ventana, local, global, pulsados,
                                                               Qt::LeftButton, tipo);
}

inline void clicDelSistema(QWidget* control) {
    botonDelSistema(control, QEvent::MouseButtonPress);
    botonDelSistema(control, QEvent::MouseButtonRelease);
}

// Steps a test takes while an open is held: run one after the other from a
// timer of the thread's event loop, each retried on every tick until it
// reports itself done. They can only run while the probe waits if the window
// keeps its event loop going. No QTRY_ inside them: its waits would hand the
// queued user input over themselves.
class PasosDuranteApertura : public QObject {
public:
    explicit PasosDuranteApertura(std::vector<std::function<bool()>> pasos) : pasos_(std::move(pasos)) {
        temporizador_.setInterval(10);
        QObject::connect(&temporizador_, &QTimer::timeout, this, [this] {
            if (hechos < int(pasos_.size()) && pasos_[hechos]())
                ++hechos;
            if (hechos == int(pasos_.size()))
                temporizador_.stop();
        });
        temporizador_.start();
    }
    int total() const { return int(pasos_.size()); }

    int hechos = 0;

private:
    std::vector<std::function<bool()>> pasos_;
    QTimer temporizador_;
};
