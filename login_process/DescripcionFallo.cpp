#include "login_process/DescripcionFallo.h"

#include "login_process/InicioRespuesta.h"
#include "login_process/SuitesDisponibles.h"
#include "login_shared/Textos.h"

#include <cerrno>
#include <sybdb.h>

namespace data_access {

namespace {

std::string describeErrorCliente(const ErrorCliente& e, const std::string& destino, const Plazo& plazo,
                                 Etapa etapa, bool integrada) {
    if (auto limite = textos::limiteDelSistema(e.errorSistema))
        return *limite;
    switch (e.numero) {
    case SYBECONN:
        if (e.errorSistema == ECONNREFUSED)
            return textos::conexionRechazada(destino);
        if (e.errorSistema == ETIMEDOUT || plazo.agotado())
            return textos::tiempoAgotadoEn(etapa, destino, plazo, integrada);
        return textos::errorRed(destino, e.errorSistema);
    case SYBETIME:
        return textos::tiempoAgotadoEn(etapa, destino, plazo, integrada);
    case SYBESEOF:
        return textos::conexionCerrada(destino, etapa);
    case SYBEREAD:
    case SYBEWRIT:
        if (e.errorSistema == 0)
            return textos::conexionCerrada(destino, etapa);
        if (e.errorSistema == ECONNRESET)
            return textos::conexionReiniciada(destino, etapa);
        return textos::errorRed(destino, e.errorSistema);
    case SYBEINTF:
    case SYBEUHST:
        return textos::hostNoEncontrado(destino);
    case SYBEBTOK:
        return textos::respuestaNoTds(destino);
    default:
        return textos::errorCliente(destino, e.numero);
    }
}

} // namespace

// Long enough for a banner or a status line, short enough for one line of the window.
constexpr std::size_t kInicioMostrado = 60;

bool cerroSinResponderAlPrelogin(const Relevo::Resultado& red) {
    return red.conectado && !red.agotado && red.cierre != Relevo::Cierre::Ninguno &&
           red.etapa == Etapa::Prelogin && red.primerosServidor.empty();
}

std::string describeFallo(const Diagnostico& diagnostico, const Relevo::Resultado& red,
                          const std::string& destino, const Plazo& plazo, const PeticionLogin& peticion,
                          RespuestaTds8 tds8) {
    // Another service on the port: what it sent says more than whatever came of it (a timeout
    // waiting for a TDS packet its bytes seemed to announce, a close).
    switch (clasificaInicio(red.primerosServidor)) {
    case InicioRespuesta::Otro:
        return textos::servicioNoSqlServer(destino, primeraLinea(red.primerosServidor, kInicioMostrado));
    case InicioRespuesta::Tls:
        return textos::servicioSoloTls(destino);
    case InicioRespuesta::Nada:
    case InicioRespuesta::Tds:
        break;
    }
    switch (tds8) {
    case RespuestaTds8::Tds8:
        return textos::cifradoEstricto(destino, red.direccion);
    case RespuestaTds8::TlsRechazado:
        return textos::cifradoEstrictoSinVersionComun(destino, red.direccion);
    case RespuestaTds8::TlsSinTds:
        return textos::servicioSoloTls(destino);
    case RespuestaTds8::Ninguna:
        break;
    }
    const bool integrada = peticion.credenciales.integrada;
    std::string mensajes;
    for (const MensajeServidor& m : diagnostico.mensajes)
        if (m.clase > 10)
            mensajes += "\n" + textos::mensajeServidor(m.numero, m.clase, m.estado, m.texto);
    if (diagnostico.erroresOmitidos > 0)
        mensajes += "\n" + textos::mensajesOmitidos(diagnostico.erroresOmitidos);
    // A server that kept sending errors until the deadline did not refuse the login: it never answered.
    if (red.agotado && red.retrasoLocal)
        return textos::esteEquipoSeRetraso(red.etapa, destino, plazo, red.respuestaMaximaServidor) + mensajes;
    if (red.agotado)
        return textos::tiempoAgotadoEn(red.etapa, destino, plazo, integrada) + mensajes;
    if (!mensajes.empty())
        return textos::inicioSesionRechazado(destino) + mensajes;

    // The server turned the handshake down: most often no TLS version in common.
    if (red.etapa == Etapa::Tls && (red.alertaTls >= 0 || red.cierre != Relevo::Cierre::Ninguno))
        return textos::tlsRechazado(destino, peticion.producto, peticion.tlsMinimo, peticion.tlsMaximo,
                                    peticion.suitesTls,
                                    suitesAusentes(peticion.prioridadTls, peticion.suitesTls), red.alertaTls);
    // No socket left is this machine's limit, not the network's.
    for (int e : red.erroresTcp)
        if (auto limite = textos::limiteDelSistema(e); limite && e != EAGAIN)
            return *limite;
    if (!red.conectado && !red.erroresTcp.empty())
        return textos::conexionTcpFallida(destino, red.erroresTcp);
    if (red.cierre == Relevo::Cierre::ServidorReinicio)
        return textos::conexionReiniciada(destino, red.etapa);
    if (red.cierre == Relevo::Cierre::ServidorCerro)
        return textos::conexionCerrada(destino, red.etapa);

    // 20018 only points at the server's messages and 20002 only says the
    // login failed: the first other error tells why.
    for (const ErrorCliente& e : diagnostico.errores)
        if (e.numero != SYBESMSG && e.numero != SYBEFCON)
            return describeErrorCliente(e, destino, plazo, red.etapa, integrada);
    if (plazo.agotado())
        return textos::tiempoAgotadoEn(red.etapa, destino, plazo, integrada);
    return textos::inicioSesionFallido(destino, integrada);
}

} // namespace data_access
