#pragma once

#include "login_shared/Causa.h"
#include "lote/Comprobacion.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace lote {

// How each generation's passes ended over the rows written: the run's shape at a glance.
class Recuento {
public:
    explicit Recuento(const Generaciones& generaciones);

    void anota(const FilaServidor& fila);
    std::size_t servidores() const { return servidores_; }
    // Servers with a pass that did not log in.
    std::size_t conFallos() const { return conFallos_; }

    // "Resumen de 131 servidores:" and a line per generation, its correct passes and its failed
    // ones by cause, most first: "2005  120 correctas; 11 fallidas: 8 tcp, 3 inicio_sesion".
    // Within `anchura` characters (0: no limit); a line that wraps starts with its generation again.
    std::string texto(std::size_t anchura) const;

private:
    struct PorGeneracion {
        std::size_t correctas = 0;
        std::array<std::size_t, login_shared::kCodigosCausa.size()> fallidas{};
        std::array<std::size_t, login_shared::kCodigosCausa.size()> noIntentadas{};
    };
    const Generaciones& generaciones_;
    std::vector<PorGeneracion> porGeneracion_;
    std::size_t servidores_ = 0;
    std::size_t conFallos_ = 0;
};

} // namespace lote
