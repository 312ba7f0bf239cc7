#include "main_window/iconoAplicacion.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <initializer_list>

namespace {

// What a title bar and a task list show; the rest is for larger views.
constexpr std::initializer_list<int> kLadosPrimerMarco = {16, 24, 32, 48};
constexpr std::initializer_list<int> kLadosDespues = {64, 128, 256};

void anadeLados(QIcon& icono, const QString& patron, std::initializer_list<int> lados) {
    for (const int lado : lados) {
        // Told the format and not to guess it, the reader uses Qt's own PNG decoder and loads
        // no image-format plugin: guessing asks every installed plugin first.
        QImageReader lector(patron.arg(lado), "png");
        lector.setAutoDetectImageFormat(false);
        const QImage imagen = lector.read();
        if (!imagen.isNull())
            icono.addPixmap(QPixmap::fromImage(imagen));
    }
}

// Runs its task once the widget's first frame is drawn, on the next turn of the event loop.
class TrasPrimerMarco : public QObject {
public:
    TrasPrimerMarco(QWidget& widget, std::function<void()> tarea)
        : QObject(&widget), tarea_(std::move(tarea)) {
        widget.installEventFilter(this);
    }

    bool eventFilter(QObject* objeto, QEvent* evento) override {
        if (evento->type() == QEvent::Paint && tarea_) {
            QTimer::singleShot(0, objeto, std::move(tarea_));
            tarea_ = nullptr;
            objeto->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> tarea_;
};

} // namespace

void instalaIconoAplicacion(QWidget& primeraVentana, const QString& patron) {
    QIcon pequeno;
    anadeLados(pequeno, patron, kLadosPrimerMarco);
    QApplication::setWindowIcon(pequeno);
    new TrasPrimerMarco(primeraVentana, [pequeno, patron] {
        QIcon completo = pequeno;
        anadeLados(completo, patron, kLadosDespues);
        QApplication::setWindowIcon(completo);
    });
}
