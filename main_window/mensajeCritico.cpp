#include "main_window/mensajeCritico.h"

#include <QMessageBox>

void muestraMensajeCritico(QWidget* padre, const QString& texto) {
    QMessageBox caja(QMessageBox::Critical, QString::fromUtf8(kTituloAplicacion), texto, QMessageBox::Ok,
                     padre);
    caja.exec();
}
