#include "lote/Campos.h"

#include "login_shared/Causa.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"

#include <ctime>

namespace lote {

namespace {

// "1.2": the number alone, for columns and fields.
std::string versionTls(std::uint16_t version) {
    const auto v = login_shared::versionTlsDelCable(version);
    return v ? std::string(login_shared::nombreTls(*v)).substr(4) : "desconocida";
}

std::string fechaIso(std::int64_t segundos) {
    const std::time_t t = std::time_t(segundos);
    std::tm fecha{};
    char texto[16];
    if (!::gmtime_r(&t, &fecha) || std::strftime(texto, sizeof texto, "%Y-%m-%d", &fecha) == 0)
        return {};
    return texto;
}

std::string causa(const probe::ResultadoPasada& pasada) {
    if (pasada.correcta)
        return {};
    // No connection object got as far as an open: the values were refused first.
    if (!pasada.datos)
        return std::string(login_shared::codigoCausa(login_shared::Causa::Valor));
    return std::string(login_shared::codigoCausa(pasada.datos->causa.value_or(login_shared::Causa::Interno)));
}

} // namespace

CamposPasada campos(const probe::ResultadoPasada& pasada) {
    CamposPasada c;
    c.correcta = pasada.correcta;
    c.causa = causa(pasada);
    const bool noIntentada =
        !pasada.intentada || c.causa == login_shared::codigoCausa(login_shared::Causa::CuentaProtegida);
    const bool interrumpida = c.causa == login_shared::codigoCausa(login_shared::Causa::Interrumpida);
    c.veredicto = pasada.correcta ? probe::kConexionCorrecta
                  : noIntentada   ? kNoIntentada
                  : interrumpida  ? kPasadaInterrumpida
                                  : probe::kConexionIncorrecta;
    c.descripcion = pasada.descripcion;
    if (!pasada.datos)
        return c;
    c.versionServidor = pasada.datos->versionServidor;
    if (!pasada.correcta)
        c.errorServidor = pasada.datos->errorServidor;
    // Neither took a time of its own.
    if (!noIntentada && !interrumpida)
        c.tiempoMs = pasada.datos->duracion.count();
    if (!pasada.datos->abierta)
        return c;
    const login_shared::ResumenLogin& r = pasada.datos->resumen;
    c.tds = r.versionTds;
    const bool cifrado = r.loginCifrado || r.sesionCifrada;
    c.tls = cifrado ? versionTls(r.versionTls) : "ninguno";
    c.cifrado = r.sesionCifrada ? "sesion" : r.loginCifrado ? "inicio_sesion" : "ninguno";
    if (cifrado && r.suiteTls != 0)
        c.suite = login_shared::nombreSuiteTls(r.suiteTls);
    if (cifrado && !r.certificadoSujeto.empty())
        c.certificado = CamposCertificado{r.certificadoSujeto, r.certificadoEmisor,
                                          r.certificadoEmisor == r.certificadoSujeto,
                                          fechaIso(r.certificadoCaduca), r.certificadoBits};
    c.direccion = r.direccion;
    c.puerto = r.puerto;
    return c;
}

std::string listaTls(const login_shared::VersionesTls& tls) {
    std::string lista;
    for (const std::string& v : tls.aceptadas)
        lista += (lista.empty() ? "" : " ") + v;
    return lista;
}

} // namespace lote
