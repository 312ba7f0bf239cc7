// The floor for start-up and memory: a Qt 6 widget window the size of the
// tool's, with one line of text so that fonts are loaded as in any real window.
//     bench_qt_desnudo           shows it until killed
//     bench_qt_desnudo --espera  prints "expuesta" once exposed, then quits at the end of its input,
//                                so that its memory is read from outside as the tool's is
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication aplicacion(argc, argv);
    QWidget ventana;
    ventana.setWindowTitle(QStringLiteral("Qt"));
    auto* disposicion = new QVBoxLayout(&ventana);
    disposicion->addWidget(new QLabel(QStringLiteral("Qt 6"), &ventana));
    ventana.resize(409, 361);
    ventana.show();
    if (argc > 1 && std::strcmp(argv[1], "--espera") == 0) {
        while (!ventana.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
        std::puts("expuesta");
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
        return 0;
    }
    return aplicacion.exec();
}
