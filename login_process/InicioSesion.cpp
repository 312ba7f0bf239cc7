#include "login_process/InicioSesion.h"

#include "login_process/AliasFreeTds.h"
#include "login_process/BusquedaInstancia.h"
#include "login_process/CertificadoServidor.h"
#include "login_process/ConfiguracionFreeTds.h"
#include "login_process/DescripcionFallo.h"
#include "login_process/DescriptoresProceso.h"
#include "login_process/HandshakeServidor.h"
#include "login_process/JuegoCaracteres.h"
#include "login_process/JuicioCertificado.h"
#include "login_process/ResolucionNombres.h"
#include "login_process/ServicioKerberos.h"
#include "login_process/SondaTds8.h"
#include "login_process/SondaVersionesTls.h"
#include "login_process/SuitesDisponibles.h"
#include "login_process/Textos.h"
#include "login_process/TicketKerberos.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"
#include "login_shared/TextoAscii.h"

namespace login_process {

using login_shared::borraSecreto;
using login_shared::Causa;
using login_shared::DireccionServidor;
using login_shared::ErrorApertura;
using login_shared::ErrorConexion;
using login_shared::Etapa;
using login_shared::igualSinMayusculas;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::TablaResolucion;

namespace {

constexpr std::uint16_t kPuertoPorDefecto = 1433;

// Where and how the login travels, from the typed name or a FreeTDS alias.
struct Destino {
    std::string host;
    std::uint16_t puerto = 0;
    std::string instancia;
    std::string cifrado = "request"; // the login goes inside TLS whenever the server can
    std::optional<AliasFreeTds> alias;
};

Destino leeDestino(const PeticionLogin& p) {
    Destino d;
    d.host = p.host;
    d.puerto = p.puerto;
    d.instancia = p.instancia;
    if (p.puerto != 0 || !p.instancia.empty())
        return d;
    d.alias = buscaAliasFreeTds(p.host, archivosConfiguracionFreeTds());
    if (!d.alias)
        return d;
    if (!d.alias->host.empty())
        d.host = d.alias->host;
    d.puerto = d.alias->puerto;
    d.instancia = d.puerto == 0 ? d.alias->instancia : std::string();
    // db-lib talks to the relay: it would check the certificate's name against 127.0.0.1.
    if (!d.alias->caFile.empty() && !igualSinMayusculas(d.alias->compruebaNombreCertificado, "no"))
        throw ErrorConexion(textos::aliasConCompruebaNombre(p.host, d.alias->archivo));
    // "off" would send the password in clear to a server that offers TLS.
    const std::string& cifrado = d.alias->cifrado;
    if (igualSinMayusculas(cifrado, "require"))
        d.cifrado = "require";
    else if (!cifrado.empty() && !igualSinMayusculas(cifrado, "off") &&
             !igualSinMayusculas(cifrado, "request"))
        throw ErrorConexion(textos::cifradoAliasNoValido(p.host, d.alias->archivo, cifrado));
    return d;
}

std::string describeDestino(const PeticionLogin& p, const Destino& d) {
    DireccionServidor direccion{d.host, d.puerto, d.instancia};
    if (!d.alias)
        return direccion.describe();
    return "«" + p.host + "» (" + direccion.describe() + ")";
}

// The service db-lib asks a Kerberos ticket for. db-lib alone would name
// the relay; the server registers its own name and port, as FreeTDS 1.3
// writes it: the canonical name for a name without a dot.
std::string spnDe(const Destino& d, const std::string& nombreCanonico) {
    if (d.alias && !d.alias->spn.empty())
        return d.alias->spn;
    const std::string host =
        d.host.find('.') == std::string::npos && nombreCanonico.find('.') != std::string::npos
            ? nombreCanonico
            : d.host;
    std::string spn = "MSSQLSvc/" + host + ":" + std::to_string(d.puerto);
    if (d.alias && !d.alias->realm.empty())
        spn += "@" + d.alias->realm;
    return spn;
}

int segundosDeLogin(const Plazo& plazo) {
    if (plazo.ilimitado())
        return 0;
    // Only a safety net: the relay ends the login at the deadline.
    return int(plazo.restante().count() / 1000 + 2);
}

// The name's addresses and, for a named instance, the port the SQL Server Browser gives.
HostResuelto buscaServidor(Destino& d, const Plazo& plazo, const InformeEtapa& informa,
                           const TablaResolucion& resolucionFija) {
    informa(Etapa::NombreHost, d.host);
    HostResuelto resuelto = resuelveConTabla(d.host, resolucionFija, plazo);
    if (d.puerto == 0 && !d.instancia.empty()) {
        informa(Etapa::Browser, d.host);
        d.puerto = buscaPuertoInstancia(resuelto.direcciones, d.host, d.instancia, plazo);
    }
    if (d.puerto == 0)
        d.puerto = kPuertoPorDefecto;
    return resuelto;
}

} // namespace

login_shared::VersionesTls sondeaVersionesTls(const PeticionLogin& p, const Plazo& plazo,
                                              const InformeEtapa& informa,
                                              const TablaResolucion& resolucionFija) {
    Destino d = leeDestino(p);
    const HostResuelto resuelto = buscaServidor(d, plazo, informa, resolucionFija);
    const std::string destino = describeDestino(p, d);
    informa(Etapa::ConexionTcp, destino);
    return sondeaVersionesTls(resuelto.direcciones, d.puerto, destino, plazo, p.versionesTlsSabidas);
}

std::unique_ptr<LoginAbierto> iniciaSesion(PeticionLogin& p, const Plazo& plazo, const InformeEtapa& informa,
                                           const TablaResolucion& resolucionFija) {
    CopiasContrasena copias;
    copias.anota([&p] { borraSecreto(p.credenciales.password); });
    // Whatever way this ends, no copy of ours outlives it.
    struct BorraAlSalir {
        CopiasContrasena& copias;
        ~BorraAlSalir() { copias.borraTodas(); }
    } borraAlSalir{copias};
    compruebaDescriptoresLibres();
    // Kerberos is left to the login process: the application need not load it.
    if (p.credenciales.integrada)
        if (auto motivo = faltaTicketKerberos())
            throw ErrorConexion(textos::sinTicketKerberos(*motivo), Causa::Kerberos);
    Destino d = leeDestino(p);
    const HostResuelto resuelto = buscaServidor(d, plazo, informa, resolucionFija);
    const std::string destino = describeDestino(p, d);
    if (p.credenciales.integrada) {
        informa(Etapa::PreparacionLogin, destino);
        if (auto fallo = faltaTicketDeServicio(spnDe(d, resuelto.nombreCanonico), plazo, destino))
            throw *fallo;
    }
    informa(Etapa::ConexionTcp, destino);

    PeticionSesion sesion;
    sesion.servidor = p.host;
    sesion.versionDbLib = p.versionDbLib;
    sesion.credenciales = p.credenciales;
    const int copiaSesion = copias.anota([&sesion] { borraSecreto(sesion.credenciales.password); });
    struct RetiraAlSalir {
        CopiasContrasena& copias;
        int numero;
        ~RetiraAlSalir() { copias.retira(numero); }
    } retiraSesion{copias, copiaSesion};
    sesion.juegoCaracteres = juegoCaracteresPara(sesion.credenciales);

    ConfiguracionFreeTds configuracion;
    configuracion.servidor = p.host;
    configuracion.versionTds = p.versionTds;
    // Encrypt=Mandatory: the whole session, or no login.
    configuracion.cifrado = p.cifradoObligatorio ? "require" : d.cifrado;
    configuracion.juegoCaracteres = sesion.juegoCaracteres;
    if (p.credenciales.integrada)
        configuracion.spn = spnDe(d, resuelto.nombreCanonico);
    configuracion.alias = d.alias;
    // Whatever the configuration cannot carry is refused before anything reaches the server.
    textoConfiguracion(configuracion);
    auto relevo = std::make_unique<Relevo>(resuelto.direcciones, d.puerto, plazo,
                                           [informa, destino](Etapa e) { informa(e, destino); });
    configuracion.puertoRelevo = relevo->puertoLocal();
    const ArchivoEnMemoria archivo(textoConfiguracion(configuracion));
    sesion.archivoConfiguracion = archivo.ruta();
    sesion.segundosLogin = segundosDeLogin(plazo);
    Diagnostico diagnostico;
    relevo->alEnviarLogin([&copias] { copias.borraTodas(); });
    // As a current driver checks it: the name typed (an alias's host), never the address it resolved to.
    if (p.compruebaCertificado)
        relevo->juzgaAntesDelLogin([host = d.host, ca = p.archivoCa](const std::string& registros) {
            return juzgaCertificado(leeHandshakeServidor(registros).cadena, host, ca);
        });
    SesionDb sesionDb = abreSesion(sesion, diagnostico, copias);
    relevo->alEnviarLogin(nullptr);
    copias.borraTodas();
    mensajesEnUtf8(diagnostico, sesion.juegoCaracteres);
    const Relevo::Resultado red = relevo->resultado();
    // What the relay read of a reply in clear is whole: db-lib cuts a message at a NUL.
    if (!red.mensajes.empty()) {
        diagnostico.mensajes.clear();
        for (const MensajeRespuesta& m : red.mensajes)
            diagnostico.mensajes.push_back({m.numero, m.estado, m.clase, m.texto});
        diagnostico.erroresOmitidos = red.erroresOmitidos;
    }
    if (!sesionDb) {
        // Asked on a connection of its own, within what is left of the same deadline.
        const RespuestaTds8 tds8 =
            cerroSinResponderAlPrelogin(red) ? sondeaTds8(red.extremo, plazo) : RespuestaTds8::Ninguna;
        throw describeFallo(diagnostico, red, destino, plazo, p, tds8);
    }
    relevo->liberaPlazo();
    ResumenLogin resumen;
    // As the server wrote it (a success has read its LOGINACK): db-lib reports the version it asked
    // for when it does not know the one sent.
    resumen.versionTds =
        red.versionTdsServidor ? textos::versionTds(*red.versionTdsServidor) : versionAcordada(sesionDb);
    resumen.servidor = diagnostico.nombreServidor;
    resumen.direccion = red.direccion;
    resumen.puerto = d.puerto;
    resumen.loginCifrado = red.loginCifrado;
    resumen.sesionCifrada = red.sesionCifrada;
    resumen.versionTls = red.versionTls;
    resumen.versionServidor = red.versionServidor;
    if (auto contradiccion = contradiceLaApertura(diagnostico, red, destino, p))
        throw *contradiccion;
    const HandshakeServidor handshake = leeHandshakeServidor(red.handshakeServidor);
    // The era's client could have agreed nothing else: should the generation's
    // priority ever not reach GnuTLS, this is not called a success.
    if (red.loginCifrado && !acordadoPorSuEpoca(p, red.versionTls, handshake.suite)) {
        ErrorApertura error(textos::tlsAjenoASuEpoca(destino, p.producto, red.versionTls, handshake.suite),
                            red.etapa, Causa::Tls, red.versionServidor);
        error.anotaRespuesta(std::nullopt, red.pruebaEnviada);
        throw error;
    }
    resumen.suiteTls = handshake.suite;
    if (red.loginCifrado && (p.juzgaParaResumen || red.certificadoAceptado)) {
        // What a current driver (ODBC 18) would make of it, for a DBA planning the move.
        const JuicioCertificado actual = red.certificadoAceptado
                                             ? *red.certificadoAceptado
                                             : juzgaCertificado(handshake.cadena, d.host, p.archivoCa);
        resumen.certificadoJuzgado = true;
        resumen.rechazoClienteActual = actual.causa ? actual.motivo : std::string();
    }
    if (const auto certificado = leeCertificado(handshake.certificado)) {
        resumen.certificadoSujeto = certificado->sujeto;
        resumen.certificadoEmisor = certificado->emisor;
        resumen.certificadoCaduca = certificado->caduca;
        resumen.certificadoClave = certificado->clave;
        resumen.certificadoBits = certificado->bits;
    }
    return std::make_unique<LoginAbierto>(std::move(relevo), std::move(sesionDb), std::move(resumen));
}

} // namespace login_process
