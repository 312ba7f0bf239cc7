#include "login_process/InicioSesion.h"

#include "login_process/AliasFreeTds.h"
#include "login_process/BusquedaInstancia.h"
#include "login_process/CertificadoServidor.h"
#include "login_process/ConversionTexto.h"
#include "login_process/DescripcionFallo.h"
#include "login_process/HandshakeServidor.h"
#include "login_process/ResolucionNombres.h"
#include "login_process/ServicioKerberos.h"
#include "login_process/SondaTds8.h"
#include "login_process/SuitesDisponibles.h"
#include "login_process/Textos.h"
#include "login_process/TicketKerberos.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Peticion.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"
#include "login_shared/TextoAscii.h"

#include <cerrno>
#include <dirent.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace login_process {

using login_shared::borraSecreto;
using login_shared::Causa;
using login_shared::Credenciales;
using login_shared::DireccionServidor;
using login_shared::ErrorApertura;
using login_shared::ErrorConexion;
using login_shared::Etapa;
using login_shared::igualSinMayusculas;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::TablaResolucion;
using login_shared::valoresConNombre;

namespace {

constexpr std::uint16_t kPuertoPorDefecto = 1433;
// FreeTDS reads its configuration in lines of 255 characters at most.
constexpr std::size_t kLineaFreeTds = 255;

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

// One "name = value" line that FreeTDS reads back exactly as written.
std::string linea(const std::string& nombre, const std::string& valor) {
    const std::string l = "\t" + nombre + " = " + valor + "\n";
    const bool seguro =
        valor.find_first_of(";#\r\n\t") == std::string::npos && valor.find("  ") == std::string::npos &&
        (valor.empty() || (valor.front() != ' ' && valor.back() != ' ')) && l.size() - 1 <= kLineaFreeTds;
    if (!seguro)
        throw ErrorConexion(textos::valorConfiguracionNoValido(nombre, valor));
    return l;
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

// db-lib's own freetds.conf for this login. FreeTDS 1.3.17 takes host, port,
// TDS version and encryption only from a configuration file
// (dbsetlbool(DBSETENCRYPT) fails); FreeTDS 1.5 adds DBSETLENCRYPT, which can
// replace the encryption line once Debian ships it.
std::string configuracion(const PeticionLogin& p, const Destino& d, std::uint16_t puertoRelevo,
                          const std::string& nombreCanonico, const std::string& juegoCaracteres) {
    // The typed name is the section db-lib looks for and what LOGIN7 names as the server.
    std::string texto = "[" + p.host + "]\n";
    if (texto.size() - 1 > kLineaFreeTds)
        throw ErrorConexion(textos::valorConfiguracionNoValido("servidor", p.host));
    texto += linea("host", "127.0.0.1") + linea("port", std::to_string(puertoRelevo)) +
             linea("tds version", p.versionTds) + linea("encryption", d.cifrado) +
             linea("client charset", juegoCaracteres);
    if (p.credenciales.integrada)
        texto += linea("spn", spnDe(d, nombreCanonico));
    if (d.alias) {
        if (!d.alias->realm.empty())
            texto += linea("realm", d.alias->realm);
        if (!d.alias->caFile.empty())
            texto += linea("ca file", d.alias->caFile);
        if (!d.alias->crlFile.empty())
            texto += linea("crl file", d.alias->crlFile);
        if (!d.alias->compruebaNombreCertificado.empty())
            texto += linea("check certificate hostname", d.alias->compruebaNombreCertificado);
    }
    return texto;
}

// The configuration lives in memory only: nothing is left on disk, even
// when the process is killed.
class ArchivoEnMemoria {
public:
    explicit ArchivoEnMemoria(const std::string& contenido)
        : fd_(::memfd_create("freetds.conf", MFD_CLOEXEC)) {
        if (fd_ < 0 || ::write(fd_, contenido.data(), contenido.size()) != ssize_t(contenido.size())) {
            const int error = errno;
            if (auto limite = textos::limiteDelSistema(error))
                throw ErrorConexion(*limite, Causa::Sistema);
            throw ErrorConexion(textos::errorInterno("no se pudo preparar la configuración de FreeTDS"),
                                Causa::Interno);
        }
    }
    ~ArchivoEnMemoria() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ArchivoEnMemoria(const ArchivoEnMemoria&) = delete;
    ArchivoEnMemoria& operator=(const ArchivoEnMemoria&) = delete;
    std::string ruta() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// db-lib refuses values over 128 bytes (dbsetlname, TDS_MAX_LOGIN_STR_SZ in
// FreeTDS 1.3), while SQL Server counts 128 characters: a value of accented
// letters is longer than that in UTF-8. Windows-1252 has one byte for each
// of them, so such a login goes in it; values with characters beyond it
// keep UTF-8 and its limit. The bytes are the client's only: LOGIN7 is
// UCS-2 either way.
constexpr std::size_t kMaximoDbLib = 128;

std::string juegoCaracteresPara(Credenciales& credenciales) {
    const auto valores = valoresConNombre(credenciales);
    bool cabe = true;
    for (const auto& v : valores)
        cabe = cabe && v.second->size() <= kMaximoDbLib;
    if (cabe)
        return "UTF-8";
    std::vector<std::string> convertidos;
    for (const auto& [campo, valor] : valores) {
        auto c = convierte(*valor, "UTF-8", "CP1252");
        if (!c || c->size() > kMaximoDbLib) {
            for (const auto& [otroCampo, otro] : valores)
                if (otro->size() > kMaximoDbLib)
                    throw ErrorConexion(
                        textos::valorDemasiadoLargoParaDbLib(otroCampo, otro->size(), kMaximoDbLib));
        }
        convertidos.push_back(std::move(*c));
    }
    for (std::size_t i = 0; i < std::size(valores); ++i) {
        borraSecreto(*valores[i].second);
        *valores[i].second = convertidos[i];
        borraSecreto(convertidos[i]); // one of them is the password
    }
    return "CP1252";
}

// What one login may hold at once: the relay's sockets and pipe, db-lib's
// socket and configuration, the resolver's and Kerberos's files. A process
// without that many left under its limit fails somewhere inside db-lib or
// GnuTLS with an error that names memory, a timeout or nothing at all.
constexpr int kDescriptoresDeUnLogin = 24;

void compruebaDescriptoresLibres() {
    rlimit limite{};
    if (::getrlimit(RLIMIT_NOFILE, &limite) != 0 || limite.rlim_cur == RLIM_INFINITY)
        return;
    long abiertos = -1; // the directory's own descriptor is among its entries
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++abiertos;
        ::closedir(dir);
        abiertos -= 2; // "." and ".."
    }
    if (abiertos < 0 || long(limite.rlim_cur) - abiertos < kDescriptoresDeUnLogin)
        throw ErrorConexion(*textos::limiteDelSistema(EMFILE), Causa::Sistema);
}

int segundosDeLogin(const Plazo& plazo) {
    if (plazo.ilimitado())
        return 0;
    // Only a safety net: the relay ends the login at the deadline.
    return int(plazo.restante().count() / 1000 + 2);
}

} // namespace

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
    informa(Etapa::NombreHost, d.host);
    const HostResuelto resuelto = resuelveConTabla(d.host, resolucionFija, plazo);
    if (d.puerto == 0 && !d.instancia.empty()) {
        informa(Etapa::Browser, d.host);
        d.puerto = buscaPuertoInstancia(resuelto.direcciones, d.host, d.instancia, plazo);
    }
    if (d.puerto == 0)
        d.puerto = kPuertoPorDefecto;
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

    // Whatever the configuration cannot carry is refused before anything reaches the server.
    configuracion(p, d, 0, resuelto.nombreCanonico, sesion.juegoCaracteres);
    auto relevo = std::make_unique<Relevo>(resuelto.direcciones, d.puerto, plazo,
                                           [informa, destino](Etapa e) { informa(e, destino); });
    const ArchivoEnMemoria archivo(
        configuracion(p, d, relevo->puertoLocal(), resuelto.nombreCanonico, sesion.juegoCaracteres));
    sesion.archivoConfiguracion = archivo.ruta();
    sesion.segundosLogin = segundosDeLogin(plazo);
    Diagnostico diagnostico;
    relevo->alEnviarLogin([&copias] { copias.borraTodas(); });
    SesionDb sesionDb = abreSesion(sesion, diagnostico, copias);
    relevo->alEnviarLogin(nullptr);
    copias.borraTodas();
    if (sesion.juegoCaracteres != "UTF-8")
        for (MensajeServidor& m : diagnostico.mensajes)
            m.texto = convierte(m.texto, sesion.juegoCaracteres.c_str(), "UTF-8").value_or(m.texto);
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
    // As the server wrote it: db-lib reports the version it asked for when it does not know the one sent.
    resumen.versionTds =
        red.versionTdsServidor ? textos::versionTds(*red.versionTdsServidor) : versionAcordada(sesionDb);
    resumen.servidor = diagnostico.nombreServidor;
    resumen.direccion = red.direccion;
    resumen.puerto = d.puerto;
    resumen.loginCifrado = red.loginCifrado;
    resumen.sesionCifrada = red.sesionCifrada;
    resumen.versionTls = red.versionTls;
    resumen.versionServidor = red.versionServidor;
    if (auto contradiccion = contradiceLaApertura(diagnostico, red, resumen.versionTds, destino, p))
        throw *contradiccion;
    const HandshakeServidor handshake = leeHandshakeServidor(red.handshakeServidor);
    // The era's client could have agreed nothing else: should the generation's
    // priority ever not reach GnuTLS, this is not called a success.
    if (red.loginCifrado && !acordadoPorSuEpoca(p, red.versionTls, handshake.suite))
        throw ErrorApertura(textos::tlsAjenoASuEpoca(destino, p.producto, red.versionTls, handshake.suite),
                            red.etapa, Causa::Tls, red.versionServidor);
    resumen.suiteTls = handshake.suite;
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
