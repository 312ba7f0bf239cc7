// One click on the real window (offscreen platform, real connection objects)
// against two raw db-lib logins, at once and with every reply of the server
// held back; the first click of a new window against a warm one; and the
// memory of the window with all its login processes over many clicks against
// a bare Qt window.
// The last two in children (bench_ventana_hija).
//     bench_ventana [benchmark flags]
#include "bench/arbol.h"
#include "bench/comun.h"
#include "bench/ventana.h"

#include <sybdb.h>

#include <QApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace bench;

namespace {

std::unique_ptr<stand_in::Server> gServidor, gServidorLento;

// A loopback with the round trip of a slow network: each reply of the login held back this long.
constexpr std::chrono::milliseconds kRetrasoRespuesta{20};

void clicContraDbLib(benchmark::State& state, stand_in::Server& servidor) {
    Ventana ventana(servidor.port());
    const ArchivoFreeTds archivo(
        {{"bench72", "127.0.0.1", servidor.port(), "7.2"}, {"bench73", "127.0.0.1", servidor.port(), "7.3"}});
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
    servidor.clearLogins();
}

void BM_Clic(benchmark::State& state) {
    clicContraDbLib(state, *gServidor);
}
BENCHMARK(BM_Clic)->Iterations(150)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ClicLatencia(benchmark::State& state) {
    clicContraDbLib(state, *gServidorLento);
}
BENCHMARK(BM_ClicLatencia)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each round a new window in a process of its own, clicked as soon as its first frame is drawn
// (or `pausa` ms later), then clicked warm in the same process: the ratio of the two.
void primerClic(benchmark::State& state, int pausa) {
    std::vector<double> primeros, calientes, razones;
    for (auto _ : state) {
        Hijo hijo(
            {BENCH_VENTANA_HIJA, "--primer-clic", std::to_string(gServidor->port()), std::to_string(pausa)});
        double primero = 0, caliente = 0;
        if (std::sscanf(hijo.leeLinea().c_str(), "primero %lf caliente %lf", &primero, &caliente) != 2) {
            state.SkipWithError("the new window did not log in");
            return;
        }
        primeros.push_back(primero);
        calientes.push_back(caliente);
        razones.push_back(primero / caliente);
        state.SetIterationTime(primero);
    }
    gServidor->clearLogins();
    state.counters["componente_ms"] = mediana(primeros) * 1e3;
    state.counters["suelo_ms"] = mediana(calientes) * 1e3;
    state.counters["razon"] = mediana(razones);
    state.counters["componente_max_ms"] = *std::max_element(primeros.begin(), primeros.end()) * 1e3;
}
// A script's click, the instant the window is drawn, waits for the rest of the login server's start.
void BM_PrimerClic(benchmark::State& state) {
    primerClic(state, 0);
}
// A person's first click comes no sooner than this after the window appears (and usually only
// after a server's name has been typed).
void BM_PrimerClicTrasPausa(benchmark::State& state) {
    primerClic(state, 300);
}
BENCHMARK(BM_PrimerClic)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrimerClicTrasPausa)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Read from outside, once the child says it is ready; by then the login processes a click leaves
// starting have had time to load, as between a person's clicks.
MemoriaArbol memoriaAlAviso(Hijo& hijo, const std::string& aviso) {
    if (hijo.leeLinea() != aviso)
        return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return memoriaDelArbol(hijo.pid());
}

// The window and every process it started, against a bare Qt window, each in a child of its own so
// that neither this process's stand-in threads nor its benchmark bookkeeping count, and the
// window's child loads the libraries the tool loads and no others.
void BM_Memoria(benchmark::State& state) {
    const int pocos = 10, muchos = 1000;
    MemoriaArbol tras10, tras1000, desnudo;
    for (auto _ : state) {
        {
            Hijo ventana({BENCH_VENTANA_HIJA, "--memoria", std::to_string(gServidor->port()),
                          std::to_string(pocos), std::to_string(muchos)});
            tras10 = memoriaAlAviso(ventana, "clics " + std::to_string(pocos));
            ventana.escribeLinea("");
            tras1000 = memoriaAlAviso(ventana, "clics " + std::to_string(muchos));
        }
        {
            Hijo qt({BENCH_QT_DESNUDO, "--espera"});
            desnudo = memoriaAlAviso(qt, "expuesta");
        }
        gServidor->clearLogins();
    }
    if (!tras10.procesos || !tras1000.procesos || !desnudo.procesos) {
        state.SkipWithError("a child did not report");
        return;
    }
    // Distinct pages where they can be read, PSS otherwise.
    const bool unicas = tras1000.unicaKb > 0 && desnudo.unicaKb > 0;
    const auto kb = [unicas](const MemoriaArbol& m) { return double(unicas ? m.unicaKb : m.pssKb); };
    state.counters["arbol_10_kB"] = kb(tras10);
    state.counters["arbol_1000_kB"] = kb(tras1000);
    state.counters["arbol_qt_kB"] = kb(desnudo);
    state.counters["paginas_unicas"] = unicas;
    state.counters["procesos"] = tras1000.procesos;
    state.counters["crecimiento"] = kb(tras1000) / kb(tras10);
    state.counters["razon"] = kb(tras1000) / kb(desnudo);
    state.counters["pss_1000_kB"] = double(tras1000.pssKb);
    state.counters["pss_qt_kB"] = double(desnudo.pssKb);
    state.counters["razon_pss"] = double(tras1000.pssKb) / double(desnudo.pssKb);
}
BENCHMARK(BM_Memoria)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A child that quit early must not take this process with it on the next write to its input.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication aplicacion(argc, argv);
    gServidor = std::make_unique<stand_in::Server>(configuracionServidor(stand_in::Encryption::NotSupported));
    auto lento = configuracionServidor(stand_in::Encryption::NotSupported);
    lento.replyDelay = kRetrasoRespuesta;
    gServidorLento = std::make_unique<stand_in::Server>(lento);
    gServidor->start();
    gServidorLento->start();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gServidor->stop();
    gServidorLento->stop();
    return 0;
}
