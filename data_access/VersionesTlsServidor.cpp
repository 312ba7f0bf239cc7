#include "data_access/VersionesTlsServidor.h"

#include "data_access/LoginHijo.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/ErrorConexion.h"

namespace data_access {

using login_shared::VersionesTls;

VersionesTls versionesTlsDe(const std::string& servidor, std::chrono::milliseconds tiempo,
                            const std::shared_ptr<CuadrillaLogins>& cuadrilla,
                            const login_shared::TablaResolucion& resolucionFija,
                            const std::vector<login_shared::VersionTls>& sabidas) {
    try {
        const login_shared::DireccionServidor direccion = login_shared::leeDireccionServidor(servidor);
        PeticionLogin peticion;
        peticion.host = direccion.host;
        peticion.puerto = direccion.puerto;
        peticion.instancia = direccion.instancia;
        peticion.versionesTlsSabidas = sabidas;
        return LoginHijo::sondeaVersionesTls(peticion, Plazo(tiempo), resolucionFija, cuadrilla.get());
    } catch (const login_shared::ErrorConexion& e) {
        VersionesTls v;
        v.motivo = e.what();
        return v;
    }
}

} // namespace data_access
