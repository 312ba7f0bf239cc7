#pragma once

#include <functional>

class QWidget;

// Runs `accion` once, from the event loop, right after `ventana` has painted
// its first frame: work the window's start does not need waits until the
// user can see it.
void alPrimerFotograma(QWidget* ventana, std::function<void()> accion);
