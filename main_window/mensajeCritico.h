#pragma once

class QString;
class QWidget;

// The application's title, also the caption of every message box it raises.
inline constexpr char kTituloAplicacion[] = "Tarpelino";

// Modal message box with the critical icon and a single OK button.
void muestraMensajeCritico(QWidget* padre, const QString& texto);
