#include "lote/Campos.h"

#include "login_shared/Proveedor.h"

namespace lote {

namespace {

// "1.2": the number alone, for columns and fields.
std::string versionTls(std::uint16_t version) {
    const auto v = data_access::versionTlsDelCable(version);
    return v ? std::string(data_access::nombreTls(*v)).substr(4) : "desconocida";
}

} // namespace

CamposPasada campos(const probe::ResultadoPasada& pasada) {
    CamposPasada c;
    c.veredicto = pasada.correcta ? probe::kConexionCorrecta : probe::kConexionIncorrecta;
    c.descripcion = pasada.descripcion;
    if (!pasada.datos)
        return c;
    c.tiempoMs = pasada.datos->duracion.count();
    if (!pasada.datos->abierta)
        return c;
    const data_access::ResumenLogin& r = pasada.datos->resumen;
    c.tds = r.versionTds;
    c.tls = r.loginCifrado || r.sesionCifrada ? versionTls(r.versionTls) : "ninguno";
    c.direccion = r.direccion;
    c.puerto = r.puerto;
    return c;
}

} // namespace lote
