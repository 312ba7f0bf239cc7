// Open + close through the connection object, and its failures, each against
// raw db-lib doing the same on the same input in the same process.
#include "bench/comun.h"

#include "data_access/ConexionFreeTds.h"

#include <sybdb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace bench;

namespace {

std::unique_ptr<stand_in::Server> gSinCifrado, gCifradoLogin;

std::string cadena(const std::string& servidor) {
    return "Provider=SQLNCLI10;Server=" + servidor + ";Database=MASTER;User ID=" + kUsuario +
           ";Password=" + kPassword + ";";
}

void aperturaDelComponente(const std::string& servidor) {
    data_access::ConexionFreeTds c;
    c.setConnectionString(cadena(servidor));
    c.open();
    c.close();
}

// The failure's description, as the window would show it; empty if it opened.
std::string falloDelComponente(const std::string& servidor) {
    data_access::ConexionFreeTds c;
    c.setConnectionString(cadena(servidor));
    try {
        c.open();
    } catch (const data_access::ErrorConexion& e) {
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
