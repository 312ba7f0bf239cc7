#include "lote/Comprobacion.h"

#include "login_shared/ProtocoloLogin.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace lote {

Credencial::~Credencial() {
    data_access::borraSecreto(password);
}

namespace {

FilaServidor compruebaServidor(const LineaServidor& entrada, const Credencial& credencial,
                               const probe::FabricaConexion& fabrica) {
    FilaServidor fila{entrada, {}};
    const std::string baseDatos =
        credencial.baseDatos.empty() ? std::string(probe::kBaseDatosPorDefecto) : credencial.baseDatos;
    // An empty user is the window's integrated security, whatever the password.
    const std::string usuario = credencial.usuario.value_or(std::string());
    for (std::size_t i = 0; i < probe::kGeneraciones.size(); ++i)
        fila.pasadas[i] = probe::ejecutaPasada(fabrica, probe::kGeneraciones[i].proveedor, entrada.servidor,
                                               baseDatos, usuario, credencial.password);
    return fila;
}

} // namespace

std::vector<FilaServidor> compruebaServidores(const std::vector<LineaServidor>& servidores,
                                              const Credencial& credencial, int paralelo,
                                              const probe::FabricaConexion& fabrica,
                                              const std::function<void(std::size_t hechos)>& alTerminar) {
    std::vector<FilaServidor> filas(servidores.size());
    std::atomic<std::size_t> siguiente{0};
    std::size_t hechos = 0;
    std::mutex mutexAviso;
    const auto trabaja = [&] {
        for (std::size_t i = siguiente++; i < servidores.size(); i = siguiente++) {
            filas[i] = compruebaServidor(servidores[i], credencial, fabrica);
            std::lock_guard<std::mutex> cerrojo(mutexAviso);
            ++hechos;
            if (alTerminar)
                alTerminar(hechos);
        }
    };
    const std::size_t hilos = std::min<std::size_t>(std::size_t(std::max(paralelo, 1)), servidores.size());
    std::vector<std::thread> trabajadores;
    trabajadores.reserve(hilos);
    try {
        for (std::size_t h = 0; h < hilos; ++h)
            trabajadores.emplace_back(trabaja);
    } catch (const std::system_error&) {
        // The system has no thread to spare: those started do the work, or this one.
        if (trabajadores.empty())
            trabaja();
    }
    for (std::thread& t : trabajadores)
        t.join();
    return filas;
}

} // namespace lote
