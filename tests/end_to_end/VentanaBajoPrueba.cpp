#include "tests/end_to_end/VentanaBajoPrueba.h"

#include "data_access/ConexionFreeTds.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

VentanaBajoPrueba::VentanaBajoPrueba(std::chrono::milliseconds tiempoEspera)
    : ventana_(std::make_unique<frmPrincipal>(
          [tiempoEspera] { return data_access::nuevaConexion(tiempoEspera); })) {
    ventana_->show();
}

VentanaBajoPrueba::~VentanaBajoPrueba() = default;

void VentanaBajoPrueba::escribe(const char* caja, const QString& texto) {
    auto* control = ventana_->findChild<QWidget*>(caja);
    QVERIFY2(control, caja);
    control->setProperty("Text", texto);
}

QString VentanaBajoPrueba::texto(const char* control) const {
    auto* widget = ventana_->findChild<QWidget*>(control);
    if (auto* etiqueta = qobject_cast<QLabel*>(widget))
        return etiqueta->text();
    return widget ? widget->property("Text").toString() : QString();
}

QString VentanaBajoPrueba::ayuda(const char* control) const {
    auto* widget = ventana_->findChild<QWidget*>(control);
    return widget ? widget->toolTip() : QString();
}

QColor VentanaBajoPrueba::color(const char* etiqueta) const {
    auto* label = ventana_->findChild<QLabel*>(etiqueta);
    return label ? label->palette().color(label->foregroundRole()) : QColor();
}

QColor VentanaBajoPrueba::resaltado() const {
    return ventana_->palette().color(QPalette::Highlight);
}

std::chrono::milliseconds VentanaBajoPrueba::pulsaTest() {
    auto* boton = ventana_->findChild<QPushButton*>("cmTest");
    const auto inicio = std::chrono::steady_clock::now();
    QTest::mouseClick(boton, Qt::LeftButton);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - inicio);
}
