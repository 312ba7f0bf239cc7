#pragma once

#include "main_window/frmPrincipal.h"

#include <QObject>

#include <cstdint>

class QPushButton;

namespace bench {

// Notes the window's first frame and when each result label paints its outcome.
class Pintadas : public QObject {
public:
    bool ventana = false, lbl2005 = false, lbl2008 = false;
    bool eventFilter(QObject* o, QEvent* e) override;
};

// The real window, set up as the application sets it up, filled in for the stand-in's login and
// clicked the way a user does, with nothing but Qt Widgets besides: a child measured for memory
// loads what the tool loads.
class Ventana {
public:
    // Returns once the window's first frame is drawn: the earliest a person can click.
    explicit Ventana(std::uint16_t puerto);

    // Both passes run and both labels painted; false if either did not log in.
    bool pulsa();

private:
    frmPrincipal ventana_;
    Pintadas pintadas_;
    QPushButton* boton_ = nullptr;
};

} // namespace bench
