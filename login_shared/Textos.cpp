#include "login_shared/Textos.h"

#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"
#include "login_shared/TextoUtf8.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace login_shared::textos {

namespace {

// The product each major version belongs to; a minor version named apart where it
// is a product of its own (10.50, SQL Server 2008 R2).
struct ProductoServidor {
    int mayor;
    int menor; // -1: any
    const char* nombre;
};
constexpr ProductoServidor kProductosServidor[] = {
    {16, -1, "SQL Server 2022"},    {15, -1, "SQL Server 2019"}, {14, -1, "SQL Server 2017"},
    {13, -1, "SQL Server 2016"},    {12, -1, "SQL Server 2014"}, {11, -1, "SQL Server 2012"},
    {10, 50, "SQL Server 2008 R2"}, {10, -1, "SQL Server 2008"}, {9, -1, "SQL Server 2005"},
};

} // namespace

std::string segundos(std::chrono::milliseconds duracion) {
    const auto ms = duracion.count();
    std::string texto = std::to_string(ms / 1000);
    if (ms % 1000 != 0)
        texto += "," + std::to_string((ms % 1000) / 100);
    return texto + " s";
}

std::string proveedorNoDisponible(const std::string& nombre, const std::string& disponibles) {
    if (nombre.empty())
        return "La cadena de conexión no indica el proveedor (Provider=). Proveedores disponibles: " +
               disponibles + ".";
    return "El proveedor «" + nombre + "» no está disponible. Proveedores disponibles: " + disponibles + ".";
}

std::string servidorVacio() {
    return "No se ha indicado el nombre del servidor.";
}

std::string puertoNoValido(const std::string& puerto, const std::string& servidor) {
    return "El puerto «" + visible(puerto) + "» de «" + visible(servidor) +
           "» no es válido: debe ser un número entre 1 y 65535.";
}

std::string soloTcp(const std::string& servidor, const std::string& protocolo) {
    return "«" + visible(servidor) + "» pide el protocolo " + protocolo +
           "; aquí solo está disponible TCP (escriba servidor, servidor\\instancia o servidor,puerto).";
}

std::string instanciaVacia(const std::string& servidor) {
    return "Falta el nombre de la instancia tras «\\» en «" + visible(servidor) + "».";
}

std::string nombreServidorNoValido(const std::string& servidor) {
    return "El nombre de servidor «" + visible(servidor) + "» no es válido.";
}

// "Tiempo de espera agotado tras 15,0 s (límite 15 s)", the time cut to tenths.
std::string agotadoTras(const Plazo& plazo) {
    const auto ms = plazo.transcurrido().count();
    return "Tiempo de espera agotado tras " + std::to_string(ms / 1000) + "," +
           std::to_string((ms % 1000) / 100) + " s (límite " + segundos(plazo.limite()) + ")";
}

// Every wait of a login ends at its deadline: a time shown past it is this
// machine's, which ran the login process late, and the description says so.
std::string excesoDelLimite(const Plazo& plazo) {
    const auto exceso = (plazo.transcurrido() / 100 - plazo.limite() / 100) * 100;
    if (plazo.ilimitado() || exceso.count() <= 0)
        return {};
    return " Se pasó del límite en " + segundos(exceso) +
           " porque este equipo no ejecutó a tiempo el proceso de inicio de sesión (estuvo detenido "
           "desde fuera, p. ej. con Ctrl+Z, o sin procesador libre).";
}

std::string nombreServidorDemasiadoLargo(std::size_t caracteres, std::size_t maximo) {
    return "El nombre de servidor tiene " + std::to_string(caracteres) +
           " caracteres; un nombre DNS tiene como máximo " + std::to_string(maximo) + ".";
}

std::optional<std::string> limiteDelSistema(int errorSistema) {
    const auto limite = [](int recurso) {
        rlimit l{};
        if (::getrlimit(recurso, &l) != 0 || l.rlim_cur == RLIM_INFINITY)
            return std::string("sin límite");
        return std::to_string(l.rlim_cur);
    };
    switch (errorSistema) {
    case EAGAIN:
        return "El sistema no permite a este usuario más procesos ni hilos (límite de «ulimit -u»: " +
               limite(RLIMIT_NPROC) + "): cierre programas o pida que se eleve el límite.";
    case EMFILE:
        return "No quedan descriptores de archivo libres para el proceso (límite de «ulimit -n»: " +
               limite(RLIMIT_NOFILE) + "): cierre programas o pida que se eleve el límite.";
    case ENFILE:
        return "El sistema se ha quedado sin descriptores de archivo (límite de todo el sistema, "
               "fs.file-max): cierre programas o pida que se eleve el límite.";
    case ENOMEM:
        return "El sistema no tiene memoria suficiente para iniciar sesión (límite de «ulimit -v»: " +
               limite(RLIMIT_AS) + ").";
    default:
        return std::nullopt;
    }
}

std::string nombreVersionTls(std::uint16_t version) {
    const auto v = versionTlsDelCable(version);
    return v ? nombreTls(*v) : "TLS";
}

std::string versionServidor(const std::string& version) {
    int mayor = -1, menor = -1;
    if (std::sscanf(version.c_str(), "%d.%d", &mayor, &menor) == 2)
        for (const ProductoServidor& p : kProductosServidor)
            if (p.mayor == mayor && (p.menor < 0 || p.menor == menor))
                return std::string(p.nombre) + " (" + version + ")";
    return version;
}

std::string versionTds(std::uint32_t version) {
    // The values SQL Server sends (MS-TDS 2.2.7.14), the ones FreeTDS knows.
    switch (version) {
    case 0x07000000:
        return "7.0";
    case 0x07010000:
    case 0x71000001:
        return "7.1";
    case 0x72090002:
        return "7.2";
    case 0x730A0003:
    case 0x730B0003:
        return "7.3";
    case 0x74000004:
        return "7.4";
    default:
        char texto[16];
        std::snprintf(texto, sizeof texto, "0x%08X", unsigned(version));
        return std::string("desconocida (") + texto + ")";
    }
}

// What the login was waiting for at `etapa`, for a description that does not blame the server.
std::string enEtapa(Etapa etapa, const std::string& destino) {
    switch (etapa) {
    case Etapa::Preparacion:
        return "antes de contactar con «" + destino + "»";
    case Etapa::NombreHost:
        return "buscando la dirección de «" + destino + "»";
    case Etapa::Browser:
        return "preguntando al servicio SQL Server Browser de «" + destino + "» por el puerto";
    case Etapa::ConexionTcp:
        return "en la conexión TCP con " + destino;
    case Etapa::Prelogin:
        return "en el saludo inicial (PRELOGIN) con " + destino;
    case Etapa::Tls:
        return "en la negociación del cifrado (TLS) con " + destino;
    case Etapa::PreparacionLogin:
        return "preparando el inicio de sesión en " + destino;
    case Etapa::RespuestaLogin:
        break;
    }
    return "en el inicio de sesión en " + destino;
}

} // namespace login_shared::textos
