#include "login_process/DescripcionFallo.h"

#include "login_process/InicioRespuesta.h"
#include "login_process/SuitesDisponibles.h"
#include "login_process/Textos.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sybdb.h>

namespace login_process {

using login_shared::Causa;
using login_shared::ErrorApertura;
using login_shared::Etapa;
using login_shared::PeticionLogin;
using login_shared::Plazo;

namespace {

struct Descripcion {
    Causa causa;
    std::string texto;
};

// The server ending the connection says most about the stage it ended.
Causa causaDeCierre(Etapa etapa) {
    switch (etapa) {
    case Etapa::Tls:
        return Causa::Tls;
    case Etapa::RespuestaLogin:
        return Causa::Conexion;
    default:
        return Causa::Tcp;
    }
}

Descripcion describeErrorCliente(const ErrorCliente& e, const std::string& destino, const Plazo& plazo,
                                 Etapa etapa, bool integrada) {
    if (auto limite = textos::limiteDelSistema(e.errorSistema))
        return {Causa::Sistema, *limite};
    switch (e.numero) {
    case SYBECONN:
        if (e.errorSistema == ECONNREFUSED)
            return {Causa::Tcp, textos::conexionRechazada(destino)};
        if (e.errorSistema == ETIMEDOUT || plazo.agotado())
            return {Causa::Tiempo, textos::tiempoAgotadoEn(etapa, destino, plazo, integrada)};
        return {Causa::Tcp, textos::errorRed(destino, e.errorSistema)};
    case SYBETIME:
        return {Causa::Tiempo, textos::tiempoAgotadoEn(etapa, destino, plazo, integrada)};
    case SYBESEOF:
        return {causaDeCierre(etapa), textos::conexionCerrada(destino, etapa)};
    case SYBEREAD:
    case SYBEWRIT:
        if (e.errorSistema == 0)
            return {causaDeCierre(etapa), textos::conexionCerrada(destino, etapa)};
        if (e.errorSistema == ECONNRESET)
            return {causaDeCierre(etapa), textos::conexionReiniciada(destino, etapa)};
        return {Causa::Tcp, textos::errorRed(destino, e.errorSistema)};
    case SYBEINTF:
    case SYBEUHST:
        return {Causa::Nombre, textos::hostNoEncontrado(destino)};
    case SYBEBTOK:
        return {etapa == Etapa::RespuestaLogin ? Causa::Protocolo : Causa::NoSqlServer,
                textos::respuestaNoTds(destino)};
    default:
        return {Causa::Interno, textos::errorCliente(destino, e.numero)};
    }
}

// The server's "Cannot open database requested by the login".
constexpr int kBaseDatosNoDisponible = 4060;

// The server's errors (class above 10), a line each, and how many more it sent.
std::string lineasDeErrores(const Diagnostico& diagnostico) {
    std::string lineas;
    for (const MensajeServidor& m : diagnostico.mensajes)
        if (m.clase > 10)
            lineas += "\n" + textos::mensajeServidor(m.numero, m.clase, m.estado, m.texto);
    if (diagnostico.erroresOmitidos > 0)
        lineas += "\n" + textos::mensajesOmitidos(diagnostico.erroresOmitidos);
    return lineas;
}

// "7.4" as (7, 4); nothing for a version no SQL Server sends.
std::optional<std::pair<int, int>> numerosVersion(const std::string& version) {
    int mayor = 0, menor = 0;
    if (std::sscanf(version.c_str(), "%d.%d", &mayor, &menor) != 2)
        return std::nullopt;
    return std::pair(mayor, menor);
}

// A LOGINACK's version as SQL Server sends it (MS-TDS 2.2.7.14): "7.3" for
// 0x730B0003; nothing for any other value.
std::optional<std::string> versionConocida(std::uint32_t version) {
    switch (version) {
    case 0x07000000:
    case 0x07010000:
    case 0x71000001:
    case 0x72090002:
    case 0x730A0003:
    case 0x730B0003:
    case 0x74000004:
        return textos::versionTds(version);
    default:
        return std::nullopt;
    }
}

// The number of the server's first error of class 11 or more.
std::optional<std::int32_t> primerError(const Diagnostico& diagnostico) {
    for (const MensajeServidor& m : diagnostico.mensajes)
        if (m.clase > 10)
            return m.numero;
    return std::nullopt;
}

// What a script needs of the reply besides the description.
ErrorApertura conRespuesta(ErrorApertura e, const Diagnostico& diagnostico, const Relevo::Resultado& red) {
    e.anotaRespuesta(primerError(diagnostico), red.pruebaEnviada);
    return e;
}

Causa causaDeTls(int alerta) {
    // RFC 5246, 7.2.2: 70 protocol_version, 40 handshake_failure (no suite in common, above all).
    return alerta == 70 ? Causa::TlsVersion : alerta == 40 ? Causa::TlsSuite : Causa::Tls;
}

} // namespace

// Long enough for a banner or a status line, short enough for one line of the window.
constexpr std::size_t kInicioMostrado = 60;

bool cerroSinResponderAlPrelogin(const Relevo::Resultado& red) {
    return red.conectado && !red.agotado && red.cierre != Relevo::Cierre::Ninguno &&
           red.etapa == Etapa::Prelogin && red.primerosServidor.empty();
}

namespace {

Descripcion describe(const Diagnostico& diagnostico, const Relevo::Resultado& red, const std::string& destino,
                     const Plazo& plazo, const PeticionLogin& peticion, RespuestaTds8 tds8) {
    // Refused on this side, before the login went: nothing the server did after says more.
    if (red.certificadoRechazado && red.certificadoRechazado->causa)
        return {*red.certificadoRechazado->causa,
                textos::certificadoRechazado(destino, peticion.producto, red.certificadoRechazado->motivo)};
    // Another service on the port: what it sent says more than whatever came of it (a timeout
    // waiting for a TDS packet its bytes seemed to announce, a close).
    switch (clasificaInicio(red.primerosServidor)) {
    case InicioRespuesta::Otro:
        return {Causa::NoSqlServer,
                textos::servicioNoSqlServer(destino, primeraLinea(red.primerosServidor, kInicioMostrado))};
    case InicioRespuesta::Tls:
        return {Causa::NoSqlServer, textos::servicioSoloTls(destino)};
    case InicioRespuesta::Nada:
    case InicioRespuesta::Tds:
        break;
    }
    switch (tds8) {
    case RespuestaTds8::Tds8:
        return {Causa::CifradoEstricto, textos::cifradoEstricto(destino, red.direccion)};
    case RespuestaTds8::TlsRechazado:
        return {Causa::CifradoEstricto, textos::cifradoEstrictoSinVersionComun(destino, red.direccion)};
    case RespuestaTds8::TlsSinTds:
        return {Causa::NoSqlServer, textos::servicioSoloTls(destino)};
    case RespuestaTds8::Ninguna:
        break;
    }
    const bool integrada = peticion.credenciales.integrada;
    const std::string mensajes = lineasDeErrores(diagnostico);
    const bool baseDatos =
        std::any_of(diagnostico.mensajes.begin(), diagnostico.mensajes.end(), [](const MensajeServidor& m) {
            return m.clase > 10 && m.numero == kBaseDatosNoDisponible;
        });
    // A server that kept sending errors until the deadline did not refuse the login: it never answered.
    if (red.agotado && red.retrasoLocal)
        return {Causa::Equipo,
                textos::esteEquipoSeRetraso(red.etapa, destino, plazo, red.respuestaMaximaServidor) +
                    mensajes};
    const bool respuestaIlegible = red.etapa == Etapa::RespuestaLogin &&
                                   red.respuesta == LectorRespuestaLogin::Estado::Ilegible &&
                                   diagnostico.mensajes.empty();
    if (respuestaIlegible)
        return {Causa::Protocolo, textos::respuestaLoginNoTds(destino, red.motivoRespuesta)};
    // Sending, a flood or one byte at a time, is not silence.
    if (red.agotado && red.respondiendo && red.etapa == Etapa::RespuestaLogin)
        return {Causa::Tiempo, textos::respuestaSinTerminar(destino, plazo) + mensajes};
    if (red.agotado)
        return {Causa::Tiempo, textos::tiempoAgotadoEn(red.etapa, destino, plazo, integrada) + mensajes};
    if (!mensajes.empty())
        return {baseDatos ? Causa::BaseDatos : Causa::InicioSesion,
                textos::inicioSesionRechazado(destino) + mensajes};

    // The server turned the handshake down: most often no TLS version in common.
    if (red.etapa == Etapa::Tls && (red.alertaTls >= 0 || red.cierre != Relevo::Cierre::Ninguno))
        return {causaDeTls(red.alertaTls),
                textos::tlsRechazado(
                    destino, peticion.producto, peticion.tlsMinimo, peticion.tlsMaximo, peticion.suitesTls,
                    suitesAusentes(peticion.prioridadTls, peticion.suitesTls), red.alertaTls)};
    // No socket left is this machine's limit, not the network's.
    for (int e : red.erroresTcp)
        if (auto limite = textos::limiteDelSistema(e); limite && e != EAGAIN)
            return {Causa::Sistema, *limite};
    if (!red.conectado && !red.erroresTcp.empty())
        return {Causa::Tcp, textos::conexionTcpFallida(destino, red.erroresTcp)};
    if (red.cierre == Relevo::Cierre::ServidorReinicio)
        return {causaDeCierre(red.etapa), textos::conexionReiniciada(destino, red.etapa)};
    if (red.cierre == Relevo::Cierre::ServidorCerro)
        return {causaDeCierre(red.etapa), textos::conexionCerrada(destino, red.etapa)};

    // 20018 only points at the server's messages and 20002 only says the
    // login failed: the first other error tells why.
    for (const ErrorCliente& e : diagnostico.errores)
        if (e.numero != SYBESMSG && e.numero != SYBEFCON)
            return describeErrorCliente(e, destino, plazo, red.etapa, integrada);
    if (plazo.agotado())
        return {Causa::Tiempo, textos::tiempoAgotadoEn(red.etapa, destino, plazo, integrada)};
    return {integrada ? Causa::Kerberos : Causa::InicioSesion,
            textos::inicioSesionFallido(destino, integrada)};
}

} // namespace

std::optional<ErrorApertura> contradiceLaApertura(const Diagnostico& diagnostico,
                                                  const Relevo::Resultado& red, const std::string& destino,
                                                  const PeticionLogin& peticion) {
    const auto falla = [&](const std::string& texto, Causa causa) {
        return conRespuesta(ErrorApertura(texto, red.etapa, causa, red.versionServidor), diagnostico, red);
    };
    const std::string errores = lineasDeErrores(diagnostico);
    if (!errores.empty())
        return falla(textos::aperturaConErrores(destino) + errores, Causa::InicioSesion);
    if (red.respuesta != LectorRespuestaLogin::Estado::Completa)
        return falla(textos::respuestaNoComprobada(destino, red.motivoRespuesta), Causa::Protocolo);
    if (red.finConError)
        return falla(textos::aperturaTerminadaEnError(destino), Causa::Protocolo);
    if (!red.versionTdsServidor)
        return falla(textos::respuestaSinLoginAck(destino), Causa::Protocolo);
    const std::optional<std::string> acordada = versionConocida(*red.versionTdsServidor);
    if (!acordada)
        return falla(textos::versionTdsDesconocida(destino, peticion.producto, *red.versionTdsServidor),
                     Causa::Protocolo);
    const auto numeros = numerosVersion(*acordada);
    const auto pedida = numerosVersion(peticion.versionTds);
    if (!pedida || *numeros > *pedida)
        return falla(textos::versionTdsSuperior(destino, peticion.producto, peticion.versionTds, *acordada),
                     Causa::Protocolo);
    return std::nullopt;
}

ErrorApertura describeFallo(const Diagnostico& diagnostico, const Relevo::Resultado& red,
                            const std::string& destino, const Plazo& plazo, const PeticionLogin& peticion,
                            RespuestaTds8 tds8) {
    // Read with the description's own reading of the clock, before anything else runs.
    Descripcion d = describe(diagnostico, red, destino, plazo, peticion, tds8);
    const auto transcurrido = plazo.transcurrido();
    return conRespuesta(ErrorApertura(d.texto, red.etapa, d.causa, red.versionServidor, transcurrido),
                        diagnostico, red);
}

} // namespace login_process
