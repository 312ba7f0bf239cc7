#pragma once

#include "lote/Entrada.h"
#include "probe/pasadaConexion.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lote {

// Who logs in, for every server alike.
struct Credencial {
    std::optional<std::string> usuario; // none: integrated security
    std::string password;
    std::string baseDatos; // empty: the window's default
    ~Credencial();
};

// One server's two passes, in the order of probe::kGeneraciones.
struct FilaServidor {
    LineaServidor entrada;
    std::array<probe::ResultadoPasada, 2> pasadas;
};

// Tests every server, `paralelo` at once, each one's two passes in turn as
// the window runs them. The rows come back in the order of `servidores`;
// `alTerminar` is told how many servers are done, from one thread at a time.
std::vector<FilaServidor> compruebaServidores(const std::vector<LineaServidor>& servidores,
                                              const Credencial& credencial, int paralelo,
                                              const probe::FabricaConexion& fabrica,
                                              const std::function<void(std::size_t hechos)>& alTerminar = {});

} // namespace lote
