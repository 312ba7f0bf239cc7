#include "login_process/SuitesDisponibles.h"

#include "login_shared/Peticion.h"
#include "login_shared/Proveedor.h"

#include <algorithm>
#include <gnutls/gnutls.h>

namespace login_process {

using login_shared::PeticionLogin;
using login_shared::versionTlsDelCable;

std::optional<std::vector<std::uint16_t>> suitesOfrecidas(const std::string& prioridad) {
    gnutls_priority_t cache = nullptr;
    if (gnutls_priority_init(&cache, prioridad.c_str(), nullptr) < 0)
        return std::nullopt;
    std::vector<std::uint16_t> ofrecidas;
    for (unsigned i = 0;; ++i) {
        unsigned indice = 0;
        const int r = gnutls_priority_get_cipher_suite_index(cache, i, &indice);
        if (r == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE)
            break;
        unsigned char id[2];
        if (r == 0 && gnutls_cipher_suite_info(indice, id, nullptr, nullptr, nullptr, nullptr))
            ofrecidas.push_back(std::uint16_t(id[0] << 8 | id[1]));
    }
    gnutls_priority_deinit(cache);
    return ofrecidas;
}

std::vector<std::uint16_t> suitesAusentes(const std::string& prioridad,
                                          const std::vector<std::uint16_t>& suites) {
    const auto ofrecidas = suitesOfrecidas(prioridad);
    if (!ofrecidas)
        return suites;
    std::vector<std::uint16_t> ausentes;
    for (std::uint16_t s : suites)
        if (std::find(ofrecidas->begin(), ofrecidas->end(), s) == ofrecidas->end())
            ausentes.push_back(s);
    return ausentes;
}

bool acordadoPorSuEpoca(const PeticionLogin& p, std::uint16_t versionTls, std::uint16_t suite) {
    const auto version = versionTlsDelCable(versionTls);
    if (!version || *version < p.tlsMinimo || *version > p.tlsMaximo)
        return false;
    const auto ofrecidas = suitesOfrecidas(p.prioridadTls);
    return suite != 0 && ofrecidas &&
           std::find(ofrecidas->begin(), ofrecidas->end(), suite) != ofrecidas->end();
}

} // namespace login_process
