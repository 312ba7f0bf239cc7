#pragma once

#include "main_window/frmPrincipal.h"
#include "tests/support/VigilanteMensajes.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <chrono>
#include <memory>

inline const QString kCorrecta = QStringLiteral("Conexión CORRECTA.");
inline const QString kIncorrecta = QStringLiteral("Conexión INCORRECTA.");
inline const QColor kRojo(255, 0, 0);

// Text colour a label is drawn with.
inline QColor colorTexto(const QLabel* etiqueta) {
    return etiqueta->palette().color(etiqueta->foregroundRole());
}
inline QColor colorResaltado(const QWidget* control) {
    return control->palette().color(QPalette::Highlight);
}

// The tool's one kind of message box: modal, critical, titled "Tarpelino", with a single OK button.
inline void compruebaMensajeCritico(const VigilanteMensajes::Mensaje& mensaje, const QString& texto) {
    QCOMPARE(mensaje.icono, QMessageBox::Critical);
    QCOMPARE(mensaje.titulo, QString("Tarpelino"));
    QCOMPARE(mensaje.texto, texto);
    QCOMPARE(mensaje.botones, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(mensaje.modal);
}

// frmPrincipal shown and active, its connection objects made by `fabrica` (fakes or FreeTDS's), driven
// the way a user does; every message box is noted and answered.
struct VentanaPrueba {
    VigilanteMensajes mensajes;
    std::unique_ptr<frmPrincipal> ventana;

    explicit VentanaPrueba(probe::FabricaConexion fabrica)
        : ventana(std::make_unique<frmPrincipal>(std::move(fabrica))) {
        ventana->show();
        ventana->activateWindow();
        if (!QTest::qWaitForWindowActive(ventana.get()))
            qWarning("window did not become active");
    }
    // A run leaves the arrow cursor set for good: taken off, so the next case starts with none.
    ~VentanaPrueba() {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        QVERIFY2(!QApplication::activeModalWidget(), "a modal box outlived its test");
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
    // Returns how long the click kept the window busy.
    std::chrono::milliseconds pulsaTest() const {
        const auto inicio = std::chrono::steady_clock::now();
        QTest::mouseClick(control<QPushButton>("cmTest"), Qt::LeftButton);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     inicio);
    }

    // Pass 0 is the 2005 one, pass 1 the 2008 one.
    QLabel* resultado(int pasada) const { return etiqueta(pasada == 0 ? "lbl2005" : "lbl2008"); }
    QString textoError(int pasada) const {
        return errores(pasada == 0 ? "txtErr2005" : "txtErr2008")->toPlainText();
    }
    // The pass's label gives its outcome in its colour; one that connected also leaves its error box empty.
    void compruebaResultado(int pasada, bool correcta) const {
        const QLabel* lbl = resultado(pasada);
        QVERIFY2(lbl->text() == (correcta ? kCorrecta : kIncorrecta),
                 qPrintable(lbl->text() + " / " + textoError(pasada)));
        QCOMPARE(colorTexto(lbl), correcta ? colorResaltado(lbl) : kRojo);
        if (correcta)
            QCOMPARE(textoError(pasada), QString());
    }
};

// Counts the paint events a widget receives.
class ContadorPintado : public QObject {
public:
    int veces = 0;
    bool eventFilter(QObject*, QEvent* evento) override {
        if (evento->type() == QEvent::Paint)
            ++veces;
        return false;
    }
};
