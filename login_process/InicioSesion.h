#pragma once

#include "login_process/Relevo.h"
#include "login_process/SesionFreeTds.h"
#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <functional>
#include <memory>

namespace login_process {

using login_shared::Etapa;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::TablaResolucion;

// A login that went through: db-lib's process and the relay it talks through.
class LoginAbierto {
public:
    LoginAbierto(std::unique_ptr<Relevo> relevo, SesionDb sesionDb, ResumenLogin resumen)
        : relevo_(std::move(relevo)), sesionDb_(std::move(sesionDb)), resumen_(std::move(resumen)) {}
    LoginAbierto(const LoginAbierto&) = delete;
    LoginAbierto& operator=(const LoginAbierto&) = delete;

    const ResumenLogin& resumen() const { return resumen_; }

private:
    // Declared first: db-lib closes before the relay it talks through goes away.
    std::unique_ptr<Relevo> relevo_;
    SesionDb sesionDb_;
    ResumenLogin resumen_;
};

// Called with each stage the login reaches and the destination as known so far.
using InformeEtapa = std::function<void(Etapa, const std::string& destino)>;

// Name lookup, instance lookup, FreeTDS alias, the relay and db-lib's login,
// all within `plazo`; names in `resolucionFija` (tests only) are answered from
// it. Throws ErrorConexion with the description of a failure. The request's
// password is wiped, with every other copy within reach, as soon as the relay
// has passed LOGIN7 on, and in any case before this returns.
std::unique_ptr<LoginAbierto> iniciaSesion(PeticionLogin& peticion, const Plazo& plazo,
                                           const InformeEtapa& informa,
                                           const TablaResolucion& resolucionFija = {});

// The TLS versions the server of `peticion` completes a handshake with
// (SondaVersionesTls.h), found by the login's own name and instance lookup,
// without a login; throws ErrorConexion as iniciaSesion when the server cannot be found.
login_shared::VersionesTls sondeaVersionesTls(const PeticionLogin& peticion, const Plazo& plazo,
                                              const InformeEtapa& informa,
                                              const TablaResolucion& resolucionFija = {});

} // namespace login_process
