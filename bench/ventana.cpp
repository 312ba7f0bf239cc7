#include "bench/ventana.h"

#include "bench/credenciales.h"
#include "main_window/ventanaPrincipal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

namespace bench {

namespace {

const QString kCorrecta = QStringLiteral("Conexión CORRECTA.");

void pulsaBoton(QPushButton* boton) {
    const QPointF centro = QRectF(boton->rect()).center();
    const QPointF global = boton->mapToGlobal(centro);
    QMouseEvent pulsado(QEvent::MouseButtonPress, centro, global, Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(boton, &pulsado);
    QMouseEvent soltado(QEvent::MouseButtonRelease, centro, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(boton, &soltado);
}

} // namespace

bool Pintadas::eventFilter(QObject* o, QEvent* e) {
    if (e->type() != QEvent::Paint)
        return false;
    if (auto* etiqueta = qobject_cast<QLabel*>(o)) {
        if (etiqueta->text() == kCorrecta)
            (o->objectName() == QLatin1String("lbl2005") ? lbl2005 : lbl2008) = true;
    } else {
        ventana = true;
    }
    return false;
}

Ventana::Ventana(std::uint16_t puerto) {
    ventana_.findChild<QWidget*>("txtServer")
        ->setProperty("Text", QStringLiteral("127.0.0.1,%1").arg(puerto));
    ventana_.findChild<QWidget*>("txtUsuario")->setProperty("Text", QString::fromStdString(kUsuario));
    ventana_.findChild<QWidget*>("txtPwd")->setProperty("Text", QString::fromStdString(kPassword));
    ventana_.installEventFilter(&pintadas_);
    // Set up as the application sets up its window: login server and icon included.
    preparaVentanaPrincipal(ventana_, QStringLiteral(":/iconos/%1.png"));
    ventana_.show();
    while (!ventana_.windowHandle()->isExposed() || !pintadas_.ventana)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    for (const char* nombre : {"lbl2005", "lbl2008"})
        ventana_.findChild<QLabel*>(nombre)->installEventFilter(&pintadas_);
    boton_ = ventana_.findChild<QPushButton*>("cmTest");
}

bool Ventana::pulsa() {
    pintadas_.lbl2005 = pintadas_.lbl2008 = false;
    pulsaBoton(boton_);
    const QDeadlineTimer plazo(10000);
    while (!(pintadas_.lbl2005 && pintadas_.lbl2008) && !plazo.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pintadas_.lbl2005 && pintadas_.lbl2008;
}

} // namespace bench
