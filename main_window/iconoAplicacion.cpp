#include "main_window/iconoAplicacion.h"

#include "main_window/primerFotograma.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
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

} // namespace

void instalaIconoAplicacion(QWidget& primeraVentana, const QString& patron) {
    QIcon pequeno;
    anadeLados(pequeno, patron, kLadosPrimerMarco);
    QApplication::setWindowIcon(pequeno);
    alPrimerFotograma(&primeraVentana, [pequeno, patron] {
        QIcon completo = pequeno;
        anadeLados(completo, patron, kLadosDespues);
        QApplication::setWindowIcon(completo);
    });
}
