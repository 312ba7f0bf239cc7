#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

// Watches for modal message boxes while a test runs, records what each one
// showed and presses its OK button, so no test can hang on a box.
class VigilanteMensajes : public QObject {
public:
    struct Mensaje {
        QMessageBox::Icon icono;
        QString titulo;
        QString texto;
        QMessageBox::StandardButtons botones;
        bool modal;
    };

    VigilanteMensajes() {
        temporizador.setInterval(10);
        QObject::connect(&temporizador, &QTimer::timeout, this, [this] { revisa(); });
        temporizador.start();
    }

    QList<Mensaje> vistos;
    // Run while each box is showing, before it is closed.
    std::function<void()> mientrasSeMuestra;

private:
    void revisa() {
        auto* caja = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!caja || !caja->isVisible())
            return;
        vistos.append(
            {caja->icon(), caja->windowTitle(), caja->text(), caja->standardButtons(), caja->isModal()});
        if (mientrasSeMuestra)
            mientrasSeMuestra();
        if (QAbstractButton* ok = caja->button(QMessageBox::Ok))
            ok->click();
        else
            caja->reject();
    }

    QTimer temporizador;
};
