#pragma once

#include "main_window/frmPrincipal.h"
#include "tests/probe/dobles/ConexionFalsa.h"
#include "tests/support/VigilanteMensajes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

// A shown frmPrincipal whose connection objects are fakes scripted by `guion`,
// with every message box watched and answered.
struct VentanaPrueba {
    std::shared_ptr<GuionConexiones> guion = std::make_shared<GuionConexiones>();
    VigilanteMensajes mensajes;
    std::unique_ptr<frmPrincipal> ventana = std::make_unique<frmPrincipal>(fabricaFalsa(guion));

    VentanaPrueba() {
        ventana->show();
        ventana->activateWindow();
        if (!QTest::qWaitForWindowActive(ventana.get()))
            qWarning("window did not become active");
    }

    template <typename T = QWidget> T* control(const char* nombre) const {
        T* encontrado = ventana->findChild<T*>(QString::fromLatin1(nombre));
        if (!encontrado)
            qFatal("no control named %s", nombre);
        return encontrado;
    }
    QLineEdit* caja(const char* nombre) const { return control<QLineEdit>(nombre); }
    QLabel* etiqueta(const char* nombre) const { return control<QLabel>(nombre); }
    QPlainTextEdit* errores(const char* nombre) const { return control<QPlainTextEdit>(nombre); }

    void rellena(const QString& servidor, const QString& usuario = {}, const QString& password = {},
                 const QString& baseDatos = {}) const {
        caja("txtServer")->setText(servidor);
        caja("txtUsuario")->setText(usuario);
        caja("txtPwd")->setText(password);
        caja("txtBD")->setText(baseDatos);
    }
    void pulsaTest() const { QTest::mouseClick(control<QPushButton>("cmTest"), Qt::LeftButton); }
};

// Text colour a label is drawn with.
inline QColor colorTexto(const QLabel* etiqueta) {
    return etiqueta->palette().color(etiqueta->foregroundRole());
}
inline QColor colorResaltado(const QWidget* control) {
    return control->palette().color(QPalette::Highlight);
}
