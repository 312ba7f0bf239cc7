#include "main_window/frmPrincipal.h"

#include "probe/pasadaConexion.h"

#include <QImage>
#include <QLabel>

// The outcome is drawn in a face nothing else on the window uses before it (bold, at the labels'
// size): loading and shaping it for the first time took about a millisecond of the first click.
// Drawn here, off screen and on a label of its own, the window and what it tells a screen reader
// stay as they are.
void frmPrincipal::preparaPrimerResultado() {
    QLabel muestra;
    muestra.setFont(lbl2005->font());
    muestra.setFrameStyle(lbl2005->frameStyle());
    muestra.resize(lbl2005->size());
    QImage lienzo(muestra.size(), QImage::Format_ARGB32_Premultiplied);
    for (const char* texto : {probe::kConexionCorrecta, probe::kConexionIncorrecta}) {
        muestra.setText(QString::fromUtf8(texto));
        muestra.render(&lienzo);
    }
}
