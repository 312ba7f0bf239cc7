// The floor for start-up and memory: a Qt 6 widget window the size of the
// tool's, with one line of text so that fonts are loaded as in any real window.
//     bench_qt_desnudo          shows it until killed
//     bench_qt_desnudo --rss    prints its resident kB once exposed, then quits
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char* argv[]) {
    QApplication aplicacion(argc, argv);
    QWidget ventana;
    ventana.setWindowTitle(QStringLiteral("Qt"));
    auto* disposicion = new QVBoxLayout(&ventana);
    disposicion->addWidget(new QLabel(QStringLiteral("Qt 6"), &ventana));
    ventana.resize(409, 361);
    ventana.show();
    if (argc > 1 && std::strcmp(argv[1], "--rss") == 0) {
        while (!ventana.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
        std::ifstream estado("/proc/self/status");
        for (std::string linea; std::getline(estado, linea);)
            if (linea.rfind("VmRSS:", 0) == 0)
                std::printf("rss %ld\n", std::atol(linea.c_str() + 6));
        return 0;
    }
    return aplicacion.exec();
}
