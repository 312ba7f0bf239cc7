// The window in a process of its own for bench_ventana, linked like the tool
// (Qt Widgets and the window's code, no stand-in, no benchmark library), so
// that what is measured from outside is what the tool loads.
//     bench_ventana_hija --memoria PORT N1 N2   prints "clics N" after N1 and after N2 clicks, and
//                                               waits each time for a line before it goes on
//     bench_ventana_hija --primer-clic PORT [MS]  clicks as soon as the first frame is drawn (or
//                                               MS after it, the window's events served meanwhile),
//                                               then warm (the median of 5); prints "primero S caliente S"
//                                               (seconds)
// Either quits at the end of its input.
#include "bench/ventana.h"

#include <QApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Reloj = std::chrono::steady_clock;

double segundosDesde(Reloj::time_point inicio) {
    return std::chrono::duration<double>(Reloj::now() - inicio).count();
}

// Blocks until the parent writes a line or closes its end.
void esperaAlPadre() {
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) {
    }
}

int memoria(bench::Ventana& ventana, int pocos, int muchos) {
    int hechos = 0;
    for (const int meta : {pocos, muchos}) {
        for (; hechos < meta; ++hechos)
            if (!ventana.pulsa())
                return 1;
        QCoreApplication::processEvents();
        std::printf("clics %d\n", meta);
        std::fflush(stdout);
        esperaAlPadre();
    }
    return 0;
}

int primerClic(bench::Ventana& ventana, int pausaMs) {
    const QDeadlineTimer pausa(pausaMs);
    while (!pausa.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    auto inicio = Reloj::now();
    if (!ventana.pulsa())
        return 1;
    const double primero = segundosDesde(inicio);
    // Warm as in the click figure: clicks each after a person's pause (or the first click's, if
    // longer: a machine left idle answers more slowly, first click or not), their median, since
    // one click alone varies by a tenth either way.
    std::vector<double> calientes;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(25, pausaMs)));
        inicio = Reloj::now();
        if (!ventana.pulsa())
            return 1;
        calientes.push_back(segundosDesde(inicio));
    }
    std::nth_element(calientes.begin(), calientes.begin() + 2, calientes.end());
    std::printf("primero %.6f caliente %.6f\n", primero, calientes[2]);
    std::fflush(stdout);
    esperaAlPadre();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool enMemoria = argc == 5 && std::strcmp(argv[1], "--memoria") == 0;
    const bool enPrimerClic = (argc == 3 || argc == 4) && std::strcmp(argv[1], "--primer-clic") == 0;
    if (!enMemoria && !enPrimerClic) {
        std::fputs("uso: bench_ventana_hija --memoria PUERTO N1 N2 | --primer-clic PUERTO [MS]\n", stderr);
        return 2;
    }
    QApplication aplicacion(argc, argv);
    bench::Ventana ventana(std::uint16_t(std::atoi(argv[2])));
    return enMemoria ? memoria(ventana, std::atoi(argv[3]), std::atoi(argv[4]))
                     : primerClic(ventana, argc == 4 ? std::atoi(argv[3]) : 0);
}
