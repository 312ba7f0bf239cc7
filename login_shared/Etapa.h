#pragma once

#include <cstdint>

namespace login_shared {

// Where a login stands; the last one reported is what a timeout names.
enum class Etapa : std::uint8_t {
    Preparacion,
    NombreHost,
    Browser,
    ConexionTcp,
    Prelogin,
    Tls,
    PreparacionLogin, // between the server's PRELOGIN reply and LOGIN7: Kerberos asks its KDC here
    RespuestaLogin,
};

} // namespace login_shared
