#pragma once

#include "main_window/frmPrincipal.h"
#include "tests/support/VigilanteMensajes.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

// The real window with real connection objects, driven the way a user does:
// type into the boxes, click "Test Conexión", read the labels and error boxes.
class VentanaBajoPrueba {
public:
    explicit VentanaBajoPrueba(std::chrono::milliseconds tiempoEspera = std::chrono::seconds(15));
    ~VentanaBajoPrueba();

    void escribe(const char* caja, const QString& texto);
    QString texto(const char* control) const;
    QString ayuda(const char* control) const; // the control's tooltip
    QColor color(const char* etiqueta) const;
    QColor resaltado() const;

    // Clicks and returns how long the click kept the window busy.
    std::chrono::milliseconds pulsaTest();

    // Texts of message boxes that appeared and were closed.
    QStringList cajasMostradas() const {
        QStringList textos;
        for (const auto& m : mensajes_.vistos)
            textos << m.texto;
        return textos;
    }

private:
    // A message box would block the click: noted and closed.
    VigilanteMensajes mensajes_;
    std::unique_ptr<frmPrincipal> ventana_;
};
