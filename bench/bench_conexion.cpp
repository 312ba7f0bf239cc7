// Open + close through the connection object, and its failures, each against
// raw db-lib doing the same on the same input in the same process; and the CPU
// a click's two opens cost, login processes included.
#include "bench/arbol.h"
#include "bench/comun.h"

#include "data_access/ConexionFreeTds.h"

#include <sybdb.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

using namespace bench;

namespace {

std::unique_ptr<stand_in::Server> gSinCifrado, gCifradoLogin;

std::string cadena(const std::string& servidor, const std::string& proveedor = "SQLNCLI10") {
    return "Provider=" + proveedor + ";Server=" + servidor + ";Database=MASTER;User ID=" + kUsuario +
           ";Password=" + kPassword + ";";
}

void aperturaDelComponente(const std::string& servidor, const std::string& proveedor = "SQLNCLI10") {
    data_access::ConexionFreeTds c;
    c.setConnectionString(cadena(servidor, proveedor));
    c.open();
    c.close();
}

// The failure's description, as the window would show it; empty if it opened.
std::string falloDelComponente(const std::string& servidor) {
    data_access::ConexionFreeTds c;
    c.setConnectionString(cadena(servidor));
    try {
        c.open();
    } catch (const login_shared::ErrorConexion& e) {
        return e.what();
    }
    c.close();
    return {};
}

void aperturaCierre(benchmark::State& state, stand_in::Server& servidor) {
    const std::string nombre = "127.0.0.1," + std::to_string(servidor.port());
    const ArchivoFreeTds archivo({{"bench", "127.0.0.1", servidor.port(), "7.3"}});
    comparaIntercalado(
        state, [&] { aperturaDelComponente(nombre); },
        [&] {
            if (!loginDbLib(archivo, "bench", DBVERSION_73))
                state.SkipWithError("raw db-lib did not log in");
        });
}

void fallo(benchmark::State& state, const std::string& host, std::uint16_t puerto) {
    const std::string nombre = host + "," + std::to_string(puerto);
    const ArchivoFreeTds archivo({{"bench", host, puerto, "7.3"}});
    std::string descripcion = falloDelComponente(nombre);
    if (descripcion.empty()) {
        state.SkipWithError("the open did not fail");
        return;
    }
    std::fprintf(stderr, "%s: %s\n", nombre.c_str(), descripcion.c_str());
    comparaIntercalado(
        state, [&] { benchmark::DoNotOptimize(descripcion = falloDelComponente(nombre)); },
        [&] {
            if (loginDbLib(archivo, "bench", DBVERSION_73))
                state.SkipWithError("raw db-lib logged in");
        });
}

double cpuDelHilo() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A click's work as the window does it, one open per generation, against two raw db-lib logins, in
// CPU: this thread's (the stand-in's threads left out) and, for the component, all its login
// processes' over the whole run, since raw db-lib starts none. Rounds alternate the order; pauses
// as in the timed figures.
void BM_CpuClic(benchmark::State& state) {
    stand_in::Server& servidor = *gSinCifrado;
    const std::string nombre = "127.0.0.1," + std::to_string(servidor.port());
    const ArchivoFreeTds archivo(
        {{"bench72", "127.0.0.1", servidor.port(), "7.2"}, {"bench73", "127.0.0.1", servidor.port(), "7.3"}});
    const auto componente = [&] {
        aperturaDelComponente(nombre, "SQLNCLI");
        aperturaDelComponente(nombre, "SQLNCLI10");
    };
    const auto suelo = [&] {
        if (!loginDbLib(archivo, "bench72", DBVERSION_72) || !loginDbLib(archivo, "bench73", DBVERSION_73))
            state.SkipWithError("raw db-lib did not log in");
    };
    for (int i = 0; i < 3; ++i) {
        componente();
        suelo();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    double hiloComponente = 0, hiloSuelo = 0;
    const double procesosAntes = cpuDeDescendientes();
    bool componentePrimero = true;
    for (auto _ : state) {
        for (int lado = 0; lado < 2; ++lado) {
            const bool esComponente = (lado == 0) == componentePrimero;
            const double antes = cpuDelHilo();
            esComponente ? componente() : suelo();
            (esComponente ? hiloComponente : hiloSuelo) += cpuDelHilo() - antes;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        componentePrimero = !componentePrimero;
        state.SetIterationTime(1e-3);
    }
    // The login processes of the last clicks have ended by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double procesos = cpuDeDescendientes() - procesosAntes;
    const double n = double(state.iterations());
    state.counters["componente_ms"] = (hiloComponente + procesos) / n * 1e3;
    state.counters["suelo_ms"] = hiloSuelo / n * 1e3;
    state.counters["razon"] = (hiloComponente + procesos) / hiloSuelo;
    state.counters["procesos_ms"] = procesos / n * 1e3;
    servidor.clearLogins();
}

void BM_AperturaCierre_SinCifrado(benchmark::State& state) {
    aperturaCierre(state, *gSinCifrado);
}
void BM_AperturaCierre_CifradoLogin(benchmark::State& state) {
    aperturaCierre(state, *gCifradoLogin);
}
void BM_Fallo_PuertoCerrado(benchmark::State& state) {
    fallo(state, "127.0.0.1", puertoCerrado());
}
void BM_Fallo_HostDesconocido(benchmark::State& state) {
    fallo(state, "tarpelino-bench.invalid", 1433);
}

BENCHMARK(BM_AperturaCierre_SinCifrado)->Iterations(400)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AperturaCierre_CifradoLogin)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fallo_PuertoCerrado)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CpuClic)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fallo_HostDesconocido)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    gSinCifrado =
        std::make_unique<stand_in::Server>(configuracionServidor(stand_in::Encryption::NotSupported));
    gCifradoLogin =
        std::make_unique<stand_in::Server>(configuracionServidor(stand_in::Encryption::LoginOnly));
    gSinCifrado->start();
    gCifradoLogin->start();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gSinCifrado->stop();
    gCifradoLogin->stop();
    return 0;
}
