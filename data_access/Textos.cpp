#include "data_access/Textos.h"

#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"
#include "login_shared/TextoUtf8.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace data_access::textos {

using login_shared::Etapa;
using login_shared::nombreSuiteTls;
using login_shared::Plazo;
using login_shared::ResumenLogin;
using login_shared::visible;

namespace {

std::string duracionLegible(std::chrono::milliseconds duracion) {
    const auto ms = static_cast<long long>(duracion.count());
    if (ms < 1000)
        return std::to_string(ms) + " ms";
    char texto[32];
    std::snprintf(texto, sizeof texto, "%lld,%02lld s", ms / 1000, (ms % 1000) / 10);
    return texto;
}

// "2025-01-31", in UTC as certificates write it.
std::string fechaIso(std::int64_t segundos) {
    const std::time_t t = std::time_t(segundos);
    std::tm fecha{};
    char texto[16];
    if (!::gmtime_r(&t, &fecha) || std::strftime(texto, sizeof texto, "%Y-%m-%d", &fecha) == 0)
        return "desconocida";
    return texto;
}

// The name SQL Server gives the certificate it makes for itself at start-up
// when none is configured.
constexpr const char* kCertificadoGenerado = "CN=SSL_Self_Signed_Fallback";

// A line each, so that a long name does not stretch the tooltip across the screen.
std::string lineasCertificado(const ResumenLogin& r) {
    std::string texto = "\nCertificado: " + visible(r.certificadoSujeto);
    if (r.certificadoSujeto == kCertificadoGenerado && r.certificadoEmisor == kCertificadoGenerado)
        texto += " (generado por SQL Server: no se configuró ninguno)";
    texto += "\nEmisor: " + (r.certificadoEmisor == r.certificadoSujeto ? std::string("autofirmado")
                                                                        : visible(r.certificadoEmisor));
    texto += "\nCaduca: " + fechaIso(r.certificadoCaduca);
    if (!r.certificadoClave.empty())
        texto +=
            "\nClave: " + visible(r.certificadoClave) + " de " + std::to_string(r.certificadoBits) + " bits";
    return texto;
}

const char* nombreEtapa(Etapa etapa) {
    switch (etapa) {
    case Etapa::Preparacion:
        return "comprobación de los datos (no se envió nada)";
    case Etapa::NombreHost:
        return "búsqueda de la dirección del servidor";
    case Etapa::Browser:
        return "consulta al SQL Server Browser";
    case Etapa::ConexionTcp:
        return "conexión TCP";
    case Etapa::Prelogin:
        return "saludo inicial (PRELOGIN)";
    case Etapa::Tls:
        return "negociación TLS";
    case Etapa::PreparacionLogin:
        return "preparación del inicio de sesión (Kerberos)";
    case Etapa::RespuestaLogin:
        break;
    }
    return "respuesta al inicio de sesión";
}

} // namespace

std::string cadenaClaveSinIgual(const std::string& clave) {
    return "Cadena de conexión mal formada: a la clave \"" + clave + "\" le falta el signo \"=\".";
}

std::string cadenaValorSinClave() {
    return "Cadena de conexión mal formada: hay un valor sin clave.";
}

std::string cadenaComillasSinCerrar() {
    return "Cadena de conexión mal formada: falta cerrar unas comillas.";
}

std::string cadenaTextoTrasComillas() {
    return "Cadena de conexión mal formada: hay texto tras las comillas de un valor.";
}

std::string cadenaSinServidor() {
    return "La cadena de conexión no indica el servidor (Server=).";
}

std::string tiempoEsperaNoValido(const std::string& valor) {
    return "El valor de Connect Timeout («" + valor +
           "») no es válido: indique un número de segundos entre 0 y 86400.";
}

std::string cadenaConConexionAbierta() {
    return "No se puede cambiar la cadena de conexión con la conexión abierta.";
}

std::string conexionNoAbierta() {
    return "La conexión no está abierta.";
}

std::string conexionYaAbierta() {
    return "La conexión ya está abierta.";
}

std::string valorNoValido(const std::string& campo, const std::string& motivo) {
    std::string texto =
        campo + " contiene " + motivo + " y no se puede enviar; no se ha intentado la conexión.";
    texto[0] = char(std::toupper(static_cast<unsigned char>(texto[0])));
    return texto;
}

std::string valorDemasiadoLargo(const std::string& campo, std::size_t caracteres, std::size_t maximo) {
    std::string texto = campo + " tiene " + std::to_string(caracteres) +
                        " caracteres; SQL Server admite como máximo " + std::to_string(maximo) + ".";
    texto[0] = char(std::toupper(static_cast<unsigned char>(texto[0])));
    return texto;
}

std::string procesoLoginNoInstalado() {
    return "No se encuentra el proceso de inicio de sesión tarpelino-login junto a este tarpelino "
           "(en ../libexec/tarpelino): la instalación de Tarpelino está incompleta.";
}

std::string respuestaProcesoLoginIlegible() {
    return "El proceso de inicio de sesión envió una respuesta que no se pudo leer, y se ha terminado.";
}

std::string procesoLoginNoSeLanza(const std::string& ruta, int errorSistema) {
    if (auto limite = limiteDelSistema(errorSistema))
        return "No se pudo iniciar el proceso de inicio de sesión. " + *limite;
    return "No se pudo iniciar el proceso de inicio de sesión " + ruta + " (error del sistema " +
           std::to_string(errorSistema) + "): la instalación de Tarpelino está incompleta.";
}

std::string procesoLoginTerminado(int senal) {
    if (senal > 0)
        return "El proceso de inicio de sesión terminó de forma inesperada (señal " + std::to_string(senal) +
               ").";
    return "El proceso de inicio de sesión terminó de forma inesperada.";
}

std::string resumenApertura(const ResumenLogin& r, std::chrono::milliseconds duracion) {
    std::string texto =
        "Servidor: " + (r.servidor.empty() ? std::string("(no lo dijo)") : visible(r.servidor)) +
        (r.versionServidor.empty() ? std::string() : "\nVersión: " + versionServidor(r.versionServidor)) +
        "\nProtocolo: TDS " + r.versionTds + "\nDirección: " + r.direccion + ", puerto " +
        std::to_string(r.puerto) + "\nCifrado: ";
    if (r.sesionCifrada)
        texto += "toda la sesión (" + nombreVersionTls(r.versionTls) + ")";
    else if (r.loginCifrado)
        texto += "solo el inicio de sesión (" + nombreVersionTls(r.versionTls) + ")";
    else
        texto += "ninguno";
    if (r.loginCifrado && r.suiteTls != 0)
        texto += "\nSuite: " + nombreSuiteTls(r.suiteTls);
    if (r.loginCifrado && !r.certificadoSujeto.empty())
        texto += lineasCertificado(r);
    if (r.certificadoJuzgado)
        texto += r.rechazoClienteActual.empty()
                     ? "\nDriver actual (ODBC 18): aceptaría este certificado."
                     : "\nDriver actual (ODBC 18): no aceptaría este certificado. " + r.rechazoClienteActual;
    return texto + "\nTiempo: " + duracionLegible(duracion);
}

std::string resumenFallo(Etapa etapa, std::chrono::milliseconds duracion) {
    return std::string("Falló en: ") + nombreEtapa(etapa) + "\nTiempo: " + duracionLegible(duracion);
}

std::string sinProcesoLoginATiempo(const std::string& destino, const Plazo& plazo) {
    return agotadoTras(plazo) +
           " en este equipo: no se pudo poner en marcha a tiempo el proceso de inicio de sesión (el "
           "servidor de inicios de sesión de este equipo no respondió), así que no se llegó a contactar "
           "con «" +
           destino + "»; el servidor no tuvo parte en ello.";
}

std::string procesoLoginSinRespuesta(Etapa etapa, const std::string& destino, const Plazo& plazo) {
    return agotadoTras(plazo) +
           " en este equipo: el proceso de inicio de sesión no dio su resultado en el plazo (estuvo "
           "detenido desde fuera o sin procesador libre) y se le puso fin al notarlo; iba " +
           enEtapa(etapa, destino) + ".";
}

} // namespace data_access::textos
