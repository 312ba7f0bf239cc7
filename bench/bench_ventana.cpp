// One click on the real window (offscreen platform, real connection objects)
// against two raw db-lib logins, and the window's resident memory over many
// clicks against a bare Qt window.
//     bench_ventana [benchmark flags]
//     bench_ventana --memoria PORT N1 N2    (child: prints "rss<N> kB" after N1 and N2 clicks)
#include "bench/comun.h"

#include "main_window/frmPrincipal.h"

#include <sybdb.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <unistd.h>

using namespace bench;

namespace {

long residenteKb() {
    std::ifstream estado("/proc/self/status");
    for (std::string linea; std::getline(estado, linea);)
        if (linea.rfind("VmRSS:", 0) == 0)
            return std::atol(linea.c_str() + 6);
    return 0;
}

const QString kCorrecta = QStringLiteral("Conexión CORRECTA.");

// Notes when each result label paints its outcome.
class Pintadas : public QObject {
public:
    bool lbl2005 = false, lbl2008 = false;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && static_cast<QLabel*>(o)->text() == kCorrecta)
            (o->objectName() == QLatin1String("lbl2005") ? lbl2005 : lbl2008) = true;
        return false;
    }
};

// The real window, typed into and clicked the way a user does.
class Ventana {
public:
    explicit Ventana(std::uint16_t puerto) {
        escribe("txtServer", QStringLiteral("127.0.0.1,%1").arg(puerto));
        escribe("txtUsuario", QString::fromStdString(kUsuario));
        escribe("txtPwd", QString::fromStdString(kPassword));
        ventana_.show();
        while (!ventana_.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (const char* nombre : {"lbl2005", "lbl2008"})
            ventana_.findChild<QLabel*>(nombre)->installEventFilter(&pintadas_);
        boton_ = ventana_.findChild<QPushButton*>("cmTest");
    }

    // Both passes run and both labels painted; false if either did not log in.
    bool pulsa() {
        pintadas_.lbl2005 = pintadas_.lbl2008 = false;
        QTest::mouseClick(boton_, Qt::LeftButton);
        for (int i = 0; i < 100 && !(pintadas_.lbl2005 && pintadas_.lbl2008); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return pintadas_.lbl2005 && pintadas_.lbl2008;
    }

private:
    void escribe(const char* caja, const QString& texto) {
        ventana_.findChild<QWidget*>(caja)->setProperty("Text", texto);
    }

    frmPrincipal ventana_;
    Pintadas pintadas_;
    QPushButton* boton_ = nullptr;
};

std::unique_ptr<stand_in::Server> gServidor;

void BM_Clic(benchmark::State& state) {
    Ventana ventana(gServidor->port());
    const ArchivoFreeTds archivo({{"bench72", "127.0.0.1", gServidor->port(), "7.2"},
                                  {"bench73", "127.0.0.1", gServidor->port(), "7.3"}});
    comparaIntercalado(
        state,
        [&] {
            if (!ventana.pulsa())
                state.SkipWithError("a pass did not log in");
        },
        [&] {
            if (!loginDbLib(archivo, "bench72", DBVERSION_72) ||
                !loginDbLib(archivo, "bench73", DBVERSION_73))
                state.SkipWithError("raw db-lib did not log in");
        });
    gServidor->clearLogins();
}
BENCHMARK(BM_Clic)->Iterations(150)->UseManualTime()->Unit(benchmark::kMillisecond);

// Reads "rss <kB>" lines from a child's output.
std::vector<long> residentesDe(const std::string& orden) {
    std::vector<long> kb;
    if (FILE* hijo = ::popen(orden.c_str(), "r")) {
        long n;
        while (std::fscanf(hijo, " rss %ld", &n) == 1)
            kb.push_back(n);
        ::pclose(hijo);
    }
    return kb;
}

// In children of their own, so that neither this process's stand-in threads
// nor its benchmark bookkeeping count.
void BM_Memoria(benchmark::State& state) {
    const int pocos = 10, muchos = 1000;
    std::vector<long> ventana, desnudo;
    for (auto _ : state) {
        ventana = residentesDe("/proc/" + std::to_string(::getpid()) + "/exe --memoria " +
                               std::to_string(gServidor->port()) + " " + std::to_string(pocos) + " " +
                               std::to_string(muchos));
        desnudo = residentesDe(BENCH_QT_DESNUDO " --rss");
        gServidor->clearLogins();
    }
    if (ventana.size() != 2 || desnudo.size() != 1) {
        state.SkipWithError("a child did not report its memory");
        return;
    }
    state.counters["rss_10_kB"] = double(ventana[0]);
    state.counters["rss_1000_kB"] = double(ventana[1]);
    state.counters["rss_qt_kB"] = double(desnudo[0]);
    state.counters["crecimiento"] = double(ventana[1]) / double(ventana[0]);
    state.counters["razon"] = double(ventana[1]) / double(desnudo[0]);
}
BENCHMARK(BM_Memoria)->Iterations(1)->Unit(benchmark::kSecond);

int memoria(int argc, char** argv) {
    if (argc != 5)
        return 2;
    QApplication aplicacion(argc, argv);
    Ventana ventana(std::uint16_t(std::atoi(argv[2])));
    int hechos = 0;
    for (int meta : {std::atoi(argv[3]), std::atoi(argv[4])}) {
        for (; hechos < meta; ++hechos)
            if (!ventana.pulsa())
                return 1;
        QCoreApplication::processEvents();
        std::printf("rss %ld\n", residenteKb());
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc > 1 && std::strcmp(argv[1], "--memoria") == 0)
        return memoria(argc, argv);
    QApplication aplicacion(argc, argv);
    gServidor = std::make_unique<stand_in::Server>(configuracionServidor(stand_in::Encryption::NotSupported));
    gServidor->start();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gServidor->stop();
    return 0;
}
