#pragma once

class QString;
class QWidget;

// The application's icon from the PNGs `patron` names ("…/%1.png", %1 the side in pixels). Only the
// small sizes are read before `primeraVentana` draws its first frame: the X11 platform reads and
// sends every size an icon has as soon as it is set, and the large ones (up to 256 px) would delay
// that frame. The large ones follow it, for the task switcher.
void instalaIconoAplicacion(QWidget& primeraVentana, const QString& patron);
