#include "lote/Campos.h"

namespace lote {

namespace {

std::string versionTls(std::uint16_t version) {
    switch (version) {
    case 0x0301:
        return "1.0";
    case 0x0302:
        return "1.1";
    case 0x0303:
        return "1.2";
    default:
        return "desconocida";
    }
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
