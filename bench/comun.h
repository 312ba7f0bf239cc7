#pragma once

#include "bench/credenciales.h"
#include "tests/stand_in/server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Reloj = std::chrono::steady_clock;

double segundosDesde(Reloj::time_point inicio);

// The stand-in every figure logs in to.
stand_in::Config configuracionServidor(stand_in::Encryption cifrado);

// A freetds.conf of its own for raw db-lib, removed on destruction: one section
// per entry, as the login process writes it (encryption "request", UTF-8).
class ArchivoFreeTds {
public:
    struct Seccion {
        std::string nombre, host;
        std::uint16_t puerto;
        std::string versionTds; // "7.2", "7.3"
    };
    explicit ArchivoFreeTds(const std::vector<Seccion>& secciones);
    ~ArchivoFreeTds();
    const std::string& ruta() const { return ruta_; }

private:
    std::string ruta_;
};

// One raw db-lib dbopen (+ dbclose when it opened) to a section of the file; true if it opened.
bool loginDbLib(const ArchivoFreeTds& archivo, const std::string& seccion, int versionDbLib);

// A port on 127.0.0.1 where nothing listens.
std::uint16_t puertoCerrado();

// Runs a and b alternately (the first of the pair alternates too) for every
// iteration of the state, times each side, and reports both medians and the
// median of the per-round ratios a/b, so drift hits both sides alike.
void comparaIntercalado(benchmark::State& state, const std::function<void()>& a,
                        const std::function<void()>& b, int calentamiento = 3);

double mediana(std::vector<double> v);

} // namespace bench
