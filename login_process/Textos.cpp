#include "login_process/Textos.h"

#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"
#include "login_shared/TextoUtf8.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace login_process::textos {

using login_shared::Etapa;
using login_shared::nombreSuiteTls;
using login_shared::nombreTls;
using login_shared::Plazo;
using login_shared::VersionTls;
using login_shared::visible;

namespace {

// Where the login stood when the server ended the connection, as the end of a sentence.
std::string momentoDe(Etapa etapa) {
    switch (etapa) {
    case Etapa::ConexionTcp:
    case Etapa::Prelogin:
        return "durante el saludo inicial (PRELOGIN)";
    case Etapa::Tls:
        return "durante la negociación TLS";
    case Etapa::PreparacionLogin:
        return "después de responder al saludo inicial (PRELOGIN), antes del inicio de sesión";
    default:
        return "durante el inicio de sesión";
    }
}

// "127.0.0.1, puerto 1433", and the address when the name does not say it.
std::string conDireccion(const std::string& destino, const std::string& direccion) {
    if (direccion.empty() || destino.find(direccion) != std::string::npos)
        return destino;
    return destino + " (dirección " + direccion + ")";
}

const char* kNingunClienteEstricto = "Ni el cliente de SQL Server 2005 ni el de SQL Server 2008 admiten el "
                                     "cifrado estricto: no pueden iniciar sesión en este servidor mientras "
                                     "lo exija.";

// "TLS_RSA_WITH_RC4_128_SHA, TLS_RSA_WITH_RC4_128_MD5"
std::string listaSuites(const std::vector<std::uint16_t>& suites) {
    std::string lista;
    for (std::uint16_t s : suites)
        lista += (lista.empty() ? "" : ", ") + nombreSuiteTls(s);
    return lista;
}

// What refuses a certificate: the drivers that check it by default since 2022.
const char* kControladorActual =
    "un controlador actual (ODBC Driver 18, OLE DB Driver 19, SqlClient 4 o posterior)";
const char* kUnControladorActual =
    "Un controlador actual (ODBC Driver 18, OLE DB Driver 19, SqlClient 4 o posterior)";

const char* kConfianza =
    " Instale en el servidor un certificado de una CA en la que confíen los clientes, o añada "
    "%s a las CA de confianza de los clientes (con tarpelino-lote: --ca FICHERO); como "
    "último recurso, TrustServerCertificate=yes en la cadena de conexión.";

std::string queHacerConfianza(const char* que) {
    std::string texto(kConfianza);
    return texto.replace(texto.find("%s"), 2, que);
}

// "El certificado del servidor", or "El certificado «CN=CA intermedia» de la cadena del servidor".
std::string elCertificado(const std::string& quien) {
    return quien.empty() ? "El certificado del servidor"
                         : "El certificado «" + quien + "» de la cadena del servidor";
}

// "a, b y c"
std::string enumeracion(const std::vector<std::string>& partes) {
    std::string texto;
    for (std::size_t i = 0; i < partes.size(); ++i)
        texto += (i == 0 ? "" : i + 1 == partes.size() ? " y " : ", ") + partes[i];
    return texto;
}

} // namespace

std::string hostNoEncontrado(const std::string& host) {
    return "No se encuentra el servidor «" + host + "»: el nombre no se puede resolver a una dirección IP.";
}

std::string resolucionAgotada(const std::string& host, const Plazo& plazo) {
    return tiempoAgotadoEn(Etapa::NombreHost, host, plazo, false);
}

std::string conexionRechazada(const std::string& destino) {
    return "Conexión rechazada por " + destino + ": no hay ningún SQL Server escuchando ahí.";
}

std::string tiempoAgotadoEn(Etapa etapa, const std::string& destino, const Plazo& plazo, bool integrada) {
    const std::string fin = excesoDelLimite(plazo);
    const std::string inicio = agotadoTras(plazo) + ": ";
    switch (etapa) {
    case Etapa::Preparacion:
        return inicio + "no se llegó a iniciar la conexión con «" + destino + "»." + fin;
    case Etapa::NombreHost:
        return inicio + "buscando la dirección de «" + destino + "»." + fin;
    case Etapa::Browser:
        return inicio + "el servicio SQL Server Browser de «" + destino +
               "» no respondió (puerto UDP 1434): indique el puerto como servidor,puerto." + fin;
    case Etapa::ConexionTcp:
        return inicio + "el servidor " + destino +
               " no aceptó la conexión TCP (ni la rechazó): compruebe el nombre, el puerto y "
               "los cortafuegos." +
               fin;
    case Etapa::Prelogin:
        return inicio + "el servidor " + destino +
               " aceptó la conexión pero no completó su respuesta al saludo inicial (PRELOGIN)." + fin;
    case Etapa::Tls:
        return inicio + "el servidor " + destino + " no completó la negociación del cifrado (TLS)." + fin;
    case Etapa::PreparacionLogin:
        if (integrada)
            return inicio + "esperando al servidor de Kerberos (KDC) para el ticket de servicio de " +
                   destino + "." + fin;
        return inicio + "preparando el inicio de sesión en " + destino + "." + fin;
    case Etapa::RespuestaLogin:
        break;
    }
    return inicio + "el servidor " + destino + " no respondió al inicio de sesión." + fin;
}

std::string conexionTcpFallida(const std::string& destino, const std::vector<int>& errores) {
    bool todasRechazadas = !errores.empty();
    for (int e : errores)
        todasRechazadas = todasRechazadas && e == ECONNREFUSED;
    if (todasRechazadas)
        return conexionRechazada(destino);
    for (int e : errores)
        if (e != ECONNREFUSED)
            return errorRed(destino, e);
    return errorRed(destino, 0);
}

std::string conexionCerrada(const std::string& destino, Etapa etapa) {
    return "El servidor " + destino + " cerró la conexión " + momentoDe(etapa) + ".";
}

std::string conexionReiniciada(const std::string& destino, Etapa etapa) {
    return "El servidor " + destino + " reinició la conexión " + momentoDe(etapa) + ".";
}

std::string servicioNoSqlServer(const std::string& destino, const std::string& primeraLinea) {
    return "Lo que responde en " + destino + " no es un SQL Server: su respuesta empieza por «" +
           visible(primeraLinea) + "». Compruebe el nombre del servidor y el puerto.";
}

std::string servicioSoloTls(const std::string& destino) {
    return "Lo que responde en " + destino +
           " no es un SQL Server: es un servicio que habla TLS desde el primer byte (un puerto HTTPS, por "
           "ejemplo) y no responde al saludo inicial (PRELOGIN) de SQL Server. Compruebe el nombre del "
           "servidor y el puerto.";
}

std::string cifradoEstricto(const std::string& destino, const std::string& direccion) {
    return "El servidor " + conDireccion(destino, direccion) +
           " exige cifrado estricto (TDS 8.0, «Force Strict Encryption»): espera la negociación TLS antes "
           "del "
           "saludo inicial (PRELOGIN) y cierra la conexión si lo recibe sin cifrar. " +
           kNingunClienteEstricto;
}

std::string errorRed(const std::string& destino, int errorSistema) {
    switch (errorSistema) {
    case ENETUNREACH:
        return "No se puede conectar con " + destino + ": la red es inalcanzable.";
    case EHOSTUNREACH:
        return "No se puede conectar con " + destino + ": el host es inalcanzable.";
    case ECONNRESET:
        return "No se puede conectar con " + destino + ": el servidor reinició la conexión.";
    default:
        return "No se puede conectar con " + destino + " (error de red " + std::to_string(errorSistema) +
               ").";
    }
}

std::string respuestaNoTds(const std::string& destino) {
    return "El servidor " + destino + " respondió con datos que no son de SQL Server (protocolo TDS).";
}

std::string certificadoRechazado(const std::string& destino, const std::string& producto,
                                 const std::string& motivo) {
    return "El cliente de " + producto + " no acepta el certificado del servidor " + destino +
           " y no le envió el inicio de sesión. " + motivo;
}

std::string inicioSesionFallido(const std::string& destino, bool integrada) {
    if (integrada)
        return "No se pudo iniciar sesión con seguridad integrada (Kerberos) en " + destino +
               ": el servidor no aceptó la autenticación o no hay ticket de servicio para él.";
    return "No se pudo completar el inicio de sesión en " + destino +
           ": no se pudo negociar el cifrado o el servidor no respondió como un SQL Server.";
}

std::string inicioSesionRechazado(const std::string& destino) {
    return "El servidor " + destino + " rechazó el inicio de sesión:";
}

std::string aperturaConErrores(const std::string& destino) {
    return "El servidor " + destino +
           " rechazó el inicio de sesión, aunque su respuesta también lo aceptaba (LOGINACK):";
}

std::string aperturaTerminadaEnError(const std::string& destino) {
    return "El servidor " + destino +
           " aceptó el inicio de sesión (LOGINACK) pero terminó su respuesta marcándola como error (DONE), "
           "sin ningún mensaje: no se da por correcto.";
}

std::string versionTdsSuperior(const std::string& destino, const std::string& producto,
                               const std::string& pedida, const std::string& acordada) {
    return "El servidor " + destino + " aceptó el inicio de sesión con TDS " + acordada +
           ", superior a la TDS " + pedida + " que pidió el cliente de " + producto +
           ": ese cliente no habla esa versión y no habría seguido.";
}

std::string respuestaNoComprobada(const std::string& destino, const std::string& motivo) {
    return "La biblioteca cliente dio por aceptado el inicio de sesión en " + destino +
           ", pero la respuesta del servidor no se pudo comprobar" +
           (motivo.empty() ? std::string(": no llegó entera") : ": contiene " + motivo) +
           ". No se da por correcto.";
}

std::string respuestaSinLoginAck(const std::string& destino) {
    return "La biblioteca cliente dio por aceptado el inicio de sesión en " + destino +
           ", pero la respuesta del servidor no lo acepta (no trae LOGINACK). No se da por correcto.";
}

std::string versionTdsDesconocida(const std::string& destino, const std::string& producto,
                                  std::uint32_t version) {
    char texto[16];
    std::snprintf(texto, sizeof texto, "0x%08X", unsigned(version));
    return "El servidor " + destino + " aceptó el inicio de sesión con una versión de TDS desconocida (" +
           texto + "), que ningún SQL Server envía y que el cliente de " + producto +
           " no pidió. No se da por correcto.";
}

std::string respuestaLoginNoTds(const std::string& destino, const std::string& motivo) {
    return "El servidor " + destino +
           " respondió al inicio de sesión con datos que no son una respuesta de SQL Server (protocolo TDS): "
           "contienen " +
           motivo + ".";
}

std::string respuestaSinTerminar(const std::string& destino, const Plazo& plazo) {
    return agotadoTras(plazo) + ": el servidor " + destino +
           " empezó a responder al inicio de sesión, pero su respuesta no terminó a tiempo." +
           excesoDelLimite(plazo);
}

std::string errorCliente(const std::string& destino, int numero) {
    return "Error " + std::to_string(numero) + " de la biblioteca cliente (FreeTDS) con " + destino + ": " +
           errorDbLib(numero);
}

std::string browserCerrado(const std::string& host) {
    return "El servicio SQL Server Browser no está activo en «" + host +
           "» (puerto UDP 1434 cerrado): indique el puerto como servidor,puerto.";
}

std::string browserSinRespuesta(const std::string& host, const Plazo& plazo) {
    return tiempoAgotadoEn(Etapa::Browser, host, plazo, false);
}

std::string instanciaNoEncontrada(const std::string& instancia, const std::string& host,
                                  const std::vector<std::string>& existentes) {
    std::string texto = "La instancia «" + instancia + "» no existe en «" + host + "»";
    if (existentes.empty())
        return texto + ".";
    texto += " (instancias:";
    for (std::size_t i = 0; i < existentes.size(); ++i)
        texto += (i ? ", " : " ") + visible(existentes[i]);
    return texto + ").";
}

std::string sinTicketKerberos(const std::string& motivo) {
    return "Seguridad integrada: no hay ningún ticket de Kerberos válido (" + motivo +
           "). Obtenga uno con kinit usuario@DOMINIO o indique un usuario de SQL Server.";
}

std::string valorDemasiadoLargoParaDbLib(const std::string& campo, std::size_t bytes, std::size_t maximo) {
    std::string texto = campo + " ocupa " + std::to_string(bytes) +
                        " bytes en UTF-8 y la biblioteca cliente (FreeTDS db-lib) admite como máximo " +
                        std::to_string(maximo) + " bytes por valor; no se ha intentado la conexión.";
    texto[0] = char(std::toupper(static_cast<unsigned char>(texto[0])));
    return texto;
}

std::string instanciaSinTcp(const std::string& instancia, const std::string& host) {
    return "La instancia «" + instancia + "» existe en «" + host +
           "» pero no tiene TCP/IP habilitado (el SQL Server Browser solo anuncia canalizaciones con "
           "nombre): "
           "habilítelo en el Administrador de configuración de SQL Server o indique servidor,puerto.";
}

std::string browserRespuestaNoValida(const std::string& host) {
    return "El servicio SQL Server Browser de «" + host +
           "» respondió con datos que no son una respuesta válida (puerto UDP 1434): indique el puerto como "
           "servidor,puerto.";
}

std::string errorDbLib(int numero) {
    struct Texto {
        int numero;
        const char* texto;
    };
    // The numbers of sybdb.h that a login can meet.
    static constexpr Texto kTextos[] = {
        {20002, "falló la conexión con el servidor."},
        {20003, "se agotó el tiempo de espera del servidor."},
        {20004, "falló la lectura del servidor."},
        {20006, "falló la escritura hacia el servidor."},
        {20008, "no se pudo abrir el socket."},
        {20009, "no se puede conectar: el servidor no está disponible o no existe."},
        {20010, "no hay memoria suficiente."},
        {20012, "el nombre del servidor no está en los archivos de configuración."},
        {20013, "nombre de host desconocido."},
        {20014, "inicio de sesión incorrecto."},
        {20017, "fin de datos inesperado del servidor."},
        {20018, "error general del servidor: consulte sus mensajes."},
        {20019, "se intentó iniciar una orden nueva con resultados pendientes."},
        {20020, "el servidor envió un token desconocido: la respuesta no es del protocolo TDS."},
        {20021, "el tiempo de espera indicado no es válido."},
        {20041, "se usó un registro de inicio de sesión nulo."},
        {20042, "un valor es demasiado largo para el registro de inicio de sesión (máximo 128 bytes)."},
        {20043, "se intentó fijar un campo desconocido del registro de inicio de sesión."},
        {20146, "el servidor respondió con una versión del protocolo TDS desconocida."},
        {20210, "la negociación de la autenticación falló."},
        // libtds reports an invalid configuration as 20214, which db-lib names after dbstrcpy.
        {20214, "la configuración de FreeTDS no es válida."},
    };
    for (const Texto& t : kTextos)
        if (t.numero == numero)
            return t.texto;
    return "error sin descripción conocida.";
}

std::string tlsRechazado(const std::string& destino, const std::string& producto, VersionTls minimo,
                         VersionTls maximo, const std::vector<std::uint16_t>& suites,
                         const std::vector<std::uint16_t>& ausentes, int alerta) {
    const std::string ofrece = minimo == maximo
                                   ? std::string("solo ") + nombreTls(minimo)
                                   : std::string("de ") + nombreTls(minimo) + " a " + nombreTls(maximo);
    const std::string cliente = "el cliente de " + producto + " ofrece " + ofrece;
    // This machine's GnuTLS, not the era's client, may be what the server turned down.
    const std::string faltan = ausentes.empty() ? std::string()
                                                : " GnuTLS en este equipo no puede ofrecer " +
                                                      listaSuites(ausentes) + ", que el cliente de " +
                                                      producto + " ofrecía: ese cliente quizá sí conecte.";
    // RFC 5246, 7.2.2: 70 protocol_version, 40 handshake_failure (no suite in common, above all).
    if (alerta == 70)
        return "El servidor " + destino +
               " no acepta ninguna versión de TLS que ofrezca este cliente: " + cliente +
               "; el servidor exige una más reciente (alerta TLS 70, protocol_version)." + faltan;
    if (alerta == 40)
        return "El servidor " + destino +
               " no acepta ningún conjunto de cifrado (cipher suite) que ofrezca este cliente: " + cliente +
               " con " + listaSuites(suites) +
               "; el servidor exige otros (alerta TLS 40, handshake_failure)." + faltan;
    if (alerta >= 0)
        return "El servidor " + destino + " rechazó la negociación TLS (alerta TLS " +
               std::to_string(alerta) + "); " + cliente + "." + faltan;
    return "El servidor " + destino + " cerró la conexión durante la negociación TLS; " + cliente +
           ": si el servidor exige una versión más reciente, este cliente no puede conectar." + faltan;
}

std::string cifradoEstrictoSinVersionComun(const std::string& destino, const std::string& direccion) {
    return "El servidor " + conDireccion(destino, direccion) +
           " cerró la conexión al recibir el saludo inicial (PRELOGIN) sin cifrar y espera TLS desde el "
           "primer "
           "byte, como un SQL Server que exige cifrado estricto (TDS 8.0), pero rechazó TLS 1.0, 1.1 y "
           "1.2. " +
           kNingunClienteEstricto;
}

std::string aliasConCompruebaNombre(const std::string& alias, const std::string& archivo) {
    return "La sección [" + alias + "] de " + archivo +
           " pide comprobar el certificado del servidor (ca file) con su nombre, y esta herramienta no puede "
           "hacerlo: añada «check certificate hostname = no» a la sección o indique el servidor sin alias.";
}

std::string cifradoAliasNoValido(const std::string& alias, const std::string& archivo,
                                 const std::string& valor) {
    return "La sección [" + alias + "] de " + archivo + " pide «encryption = " + valor +
           "», que no es válido: use off, request o require.";
}

std::string valorConfiguracionNoValido(const std::string& opcion, const std::string& valor) {
    return "El valor de «" + opcion + "» («" + valor +
           "») no se puede pasar a FreeTDS: contiene «;», «#», un salto de línea o es demasiado largo.";
}

std::string errorInterno(const std::string& detalle) {
    return "Error interno del inicio de sesión: " + detalle + ".";
}

std::string kerberosTicketCaducado(const std::string& cliente) {
    return "Seguridad integrada: el ticket de Kerberos" +
           (cliente.empty() ? std::string() : " de " + cliente) +
           " ha caducado. Renuévelo con kinit (klist muestra su vigencia) o indique un usuario de SQL "
           "Server.";
}

std::string kerberosKdcInalcanzable(const std::string& dominio) {
    return "Seguridad integrada: no se puede contactar con ningún KDC del dominio Kerberos «" + dominio +
           "». Compruebe la red y la sección [realms] de /etc/krb5.conf (klist muestra su ticket).";
}

std::string kerberosDominioDesconocido(const std::string& dominio, const std::string& cliente) {
    return "Seguridad integrada: no se sabe qué KDC atiende el dominio Kerberos «" + dominio + "»" +
           (cliente.empty() ? std::string() : " (su ticket es de " + cliente + ")") +
           ". Añádalo a /etc/krb5.conf o obtenga un ticket de ese dominio con kinit.";
}

std::string kerberosOtroDominio(const std::string& cliente, const std::string& servicio) {
    return "Seguridad integrada: su ticket es de " + cliente + " y el servicio " + servicio +
           " es de otro dominio Kerberos, sin confianza entre ambos. Obtenga un ticket del dominio del "
           "servidor "
           "con kinit (klist muestra el que tiene).";
}

std::string kerberosSpnDesconocido(const std::string& servicio) {
    return "Seguridad integrada: el KDC no conoce el servicio " + servicio +
           ": el SQL Server no tiene registrado ese SPN. Pida al administrador que lo registre (setspn -S) o "
           "indique un usuario de SQL Server.";
}

std::string kerberosFallo(const std::string& servicio, const std::string& detalle) {
    return "Seguridad integrada: Kerberos no pudo obtener el ticket de servicio para " + servicio +
           (detalle.empty() ? std::string(".") : " (detalle de Kerberos: " + detalle + ").");
}

std::string tlsAjenoASuEpoca(const std::string& destino, const std::string& producto,
                             std::uint16_t versionTls, std::uint16_t suite) {
    return "El servidor " + destino + " acordó " + nombreVersionTls(versionTls) + " con " +
           (suite ? nombreSuiteTls(suite) : std::string("un conjunto de cifrado desconocido")) +
           ", que el cliente de " + producto +
           " no ofrecía: este equipo no pudo limitar TLS a lo que ofrecía ese cliente, así que el resultado "
           "no "
           "vale para él. Compruebe la instalación de FreeTDS y GnuTLS.";
}

std::string certificadoIlegible() {
    return std::string(
               "No se pudo leer ningún certificado del servidor: no envió uno que se pudiera leer, y ") +
           kControladorActual + " exige uno emitido por una CA de confianza." +
           " Instale en el servidor un certificado de una CA en la que confíen los clientes.";
}

std::string certificadoAutofirmado(const std::string& sujeto) {
    std::string texto = "El certificado del servidor, «" + sujeto +
                        "», es autofirmado: no lo emitió ninguna CA de confianza, y " + kControladorActual +
                        " lo rechaza.";
    if (sujeto.find("SSL_Self_Signed_Fallback") != std::string::npos)
        texto += " Es el que SQL Server crea al arrancar cuando no tiene ninguno configurado.";
    return texto + queHacerConfianza("este certificado");
}

std::string certificadoCaDesconocida(const std::string& emisor) {
    return "El certificado del servidor lo emitió «" + emisor +
           "», una CA que no está entre las de confianza de este equipo: " + kControladorActual +
           " lo rechaza." + queHacerConfianza("esa CA");
}

std::string certificadoCadenaNoValida(const std::string& emisor, const std::string& detalle) {
    return "La cadena de certificados del servidor no lleva a una CA de confianza (" + detalle +
           "; emisor «" + emisor + "»): " + kControladorActual + " la rechaza." +
           queHacerConfianza("la CA que lo emitió");
}

std::string certificadoNombre(const std::string& host, const std::vector<std::string>& nombres) {
    const std::string suyos = nombres.empty()
                                  ? "no lleva ninguno (ni subjectAltName ni CN)"
                                  : (nombres.size() == 1 ? "solo lleva " : "lleva ") + enumeracion(nombres);
    return "El certificado del servidor no lleva el nombre «" + host +
           "» con que se escribió el servidor: " + suyos + ". " + kUnControladorActual +
           " compara el nombre tal como se escribe en la conexión y lo rechaza. Conéctese con uno de los "
           "nombres del certificado, o vuelva a emitirlo con «" +
           host + "» entre sus nombres (subjectAltName).";
}

std::string certificadoCaducado(const std::string& quien, const std::string& fecha) {
    return elCertificado(quien) + " caducó el " + fecha + " (UTC): " + kControladorActual +
           " lo rechaza. Renueve el certificado en el servidor.";
}

std::string certificadoNoVigenteAun(const std::string& quien, const std::string& fecha) {
    return elCertificado(quien) + " no es válido hasta el " + fecha + " (UTC): " + kControladorActual +
           " lo rechaza hasta entonces. Compruebe el reloj del servidor y el de este equipo, o instale un "
           "certificado ya vigente.";
}

std::string certificadoDebil(const std::string& quien, const std::vector<std::string>& defectos) {
    return elCertificado(quien) + " " + enumeracion(defectos) +
           ": las bibliotecas TLS actuales rechazan las firmas SHA-1 y MD5 y las claves RSA de menos de "
           "2048 bits, así que " +
           kControladorActual +
           " lo rechaza. Emita un certificado nuevo con una clave RSA de 2048 bits o más, firmado con "
           "SHA-256.";
}

std::string archivoCaIlegible(const std::string& archivo) {
    return "No se pudo leer ningún certificado de CA en formato PEM de «" + archivo + "».";
}

std::string mensajeServidor(int numero, int clase, int estado, const std::string& texto) {
    return "Msg " + std::to_string(numero) + ", nivel " + std::to_string(clase) + ", estado " +
           std::to_string(estado) + ": " + visible(texto);
}

std::string mensajesOmitidos(std::size_t n) {
    return "y " + std::to_string(n) + (n == 1 ? " mensaje más." : " mensajes más.");
}

std::string sinCarpetaDeTrabajo(const std::string& directorio, int errorSistema) {
    return "No se pudo entrar en la carpeta de trabajo «" + visible(directorio) + "» (error del sistema " +
           std::to_string(errorSistema) +
           "): el inicio de sesión siguió sin ella, desde «/», así que no se buscó en ella ningún archivo "
           "con ruta relativa.";
}

std::string esteEquipoSeRetraso(Etapa etapa, const std::string& destino, const Plazo& plazo,
                                std::optional<std::chrono::milliseconds> respuestaMaxima) {
    const std::string servidor = respuestaMaxima
                                     ? "el servidor " + destino + " respondió a tiempo a cada petición (en " +
                                           std::to_string(respuestaMaxima->count()) + " ms como mucho)"
                                     : "el servidor " + destino + " aceptó a tiempo la conexión TCP";
    const std::string exceso = excesoDelLimite(plazo);
    return agotadoTras(plazo) + " en este equipo: " + servidor +
           ", pero el proceso de inicio de sesión de este equipo no leyó o no envió a tiempo su parte (iba " +
           enEtapa(etapa, destino) + ")." +
           (exceso.empty() ? " Estuvo detenido desde fuera o sin procesador libre." : exceso);
}

} // namespace login_process::textos
