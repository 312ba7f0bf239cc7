#include "frmPrincipal.h"
#include "mensajeCritico.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication aplicacion(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kTituloAplicacion));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));

    frmPrincipal ventana;
    ventana.show();
    return aplicacion.exec();
}
