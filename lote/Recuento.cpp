#include "lote/Recuento.h"

#include "login_shared/Proveedor.h"
#include "lote/Campos.h"

#include <algorithm>
#include <numeric>

namespace lote {

namespace {

std::size_t ancho(const std::string& texto) {
    std::size_t n = 0;
    for (unsigned char c : texto)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string plural(std::size_t n, const char* singular, const char* varios) {
    return std::to_string(n) + " " + (n == 1 ? singular : varios);
}

} // namespace

Recuento::Recuento(const Generaciones& generaciones)
    : generaciones_(generaciones), porGeneracion_(generaciones.size()) {}

void Recuento::anota(const FilaServidor& fila) {
    ++servidores_;
    bool fallo = false;
    for (std::size_t g = 0; g < fila.pasadas.size() && g < porGeneracion_.size(); ++g) {
        const probe::ResultadoPasada& p = fila.pasadas[g];
        PorGeneracion& cuenta = porGeneracion_[g];
        if (p.correcta) {
            ++cuenta.correctas;
            continue;
        }
        fallo = true;
        const auto causa = login_shared::causaDeCodigo(campos(p).causa);
        const std::size_t i = std::size_t(causa.value_or(login_shared::Causa::Interno));
        ++cuenta.fallidas[i];
        cuenta.noIntentadas[i] += !p.intentada;
    }
    conFallos_ += fallo;
}

std::string Recuento::texto(std::size_t anchura) const {
    std::string texto = "Resumen de " + plural(servidores_, "servidor", "servidores") + ":\n";
    std::size_t anchoGeneracion = 0;
    for (const login_shared::Proveedor* g : generaciones_)
        anchoGeneracion = std::max(anchoGeneracion, ancho(g->version));
    for (std::size_t g = 0; g < porGeneracion_.size(); ++g) {
        const PorGeneracion& cuenta = porGeneracion_[g];
        const std::size_t fallidas =
            std::accumulate(cuenta.fallidas.begin(), cuenta.fallidas.end(), std::size_t(0));
        // Whole pieces, as many to a line as fit.
        std::vector<std::string> piezas{std::to_string(cuenta.correctas) +
                                        (cuenta.correctas == 1 ? " correcta" : " correctas") +
                                        (fallidas ? ";" : "")};
        if (fallidas != 0) {
            piezas.push_back(plural(fallidas, "fallida:", "fallidas:"));
            std::vector<std::size_t> causas;
            for (std::size_t c = 0; c < cuenta.fallidas.size(); ++c)
                if (cuenta.fallidas[c] != 0)
                    causas.push_back(c);
            std::stable_sort(causas.begin(), causas.end(), [&](std::size_t a, std::size_t b) {
                return cuenta.fallidas[a] > cuenta.fallidas[b];
            });
            for (std::size_t c : causas) {
                std::string pieza =
                    std::to_string(cuenta.fallidas[c]) + " " + std::string(login_shared::kCodigosCausa[c]);
                // Those of an account already refused are all so: saying it adds nothing.
                if (cuenta.noIntentadas[c] != 0 && c != std::size_t(login_shared::Causa::CuentaProtegida))
                    pieza += " (" + plural(cuenta.noIntentadas[c], "no intentada", "no intentadas") + ")";
                piezas.push_back(pieza + (c == causas.back() ? "" : ","));
            }
        }
        const std::string version = generaciones_[g]->version;
        const std::string inicio = version + std::string(anchoGeneracion - ancho(version) + 2, ' ');
        std::string linea = inicio;
        for (const std::string& pieza : piezas) {
            if (linea.size() > inicio.size() && anchura != 0 && ancho(linea) + 1 + ancho(pieza) > anchura) {
                texto += linea + "\n";
                linea = inicio;
            }
            linea += (linea.size() > inicio.size() ? " " : "") + pieza;
        }
        texto += linea + "\n";
    }
    return texto;
}

} // namespace lote
