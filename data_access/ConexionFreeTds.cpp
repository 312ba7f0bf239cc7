#include "ConexionFreeTds.h"

#include "AliasFreeTds.h"
#include "Ajustes.h"
#include "BusquedaInstancia.h"
#include "ConnectionString.h"
#include "DescripcionFallo.h"
#include "DireccionServidor.h"
#include "Plazo.h"
#include "Proveedor.h"
#include "ResolucionNombres.h"
#include "TextosError.h"
#include "TicketKerberos.h"

namespace data_access {

namespace {

constexpr std::uint16_t kPuertoPorDefecto = 1433;

// Our own section for the server, so that nothing in the user's FreeTDS
// files changes the port, the version or the encryption we ask for.
// "request" encrypts at least the login packet whenever the server can.
std::string configuracionPara(const std::string& host, std::uint16_t puerto, const char* versionTds) {
    return "[" + host + "]\n\thost = " + host + "\n\tport = " + std::to_string(puerto) + "\n\ttds version = " +
           versionTds + "\n\tencryption = request\n\tclient charset = UTF-8\n";
}

int segundosDeLogin(const Plazo& plazo) {
    if (plazo.ilimitado())
        return 0;
    const auto ms = plazo.restante().count();
    return int(std::max<long long>(1, (ms + 999) / 1000));
}

} // namespace

ConexionFreeTds::ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto)
    : tiempoEsperaPorDefecto_(tiempoEsperaPorDefecto) {}

ConexionFreeTds::~ConexionFreeTds() { cierraSesion(proceso_); }

void ConexionFreeTds::setConnectionString(const std::string& connectionString) {
    if (isOpen())
        throw ErrorConexion("No se puede cambiar la cadena de conexión con la conexión abierta.");
    cadena_ = connectionString;
}

void ConexionFreeTds::close() {
    if (!isOpen())
        throw ErrorConexion("La conexión no está abierta.");
    cierraSesion(proceso_);
    proceso_ = nullptr;
}

PeticionSesion ConexionFreeTds::preparaPeticion(const Ajustes& ajustes, const Proveedor& proveedor,
                                                const DireccionServidor& direccion, const Plazo& plazo,
                                                std::string& destino) const {
    PeticionSesion peticion;
    peticion.versionDbLib = proveedor.versionDbLib;
    peticion.baseDatos = ajustes.baseDatos;
    peticion.aplicacion = ajustes.aplicacion;
    peticion.estacion = ajustes.estacion;
    peticion.integrada = ajustes.seguridadIntegrada;
    if (!peticion.integrada) {
        peticion.usuario = ajustes.usuario;
        peticion.password = ajustes.password;
    }

    const bool alias = direccion.puerto == 0 && direccion.instancia.empty() &&
                       esAliasFreeTds(direccion.host, archivosConfiguracionFreeTds());
    if (alias) {
        // FreeTDS resolves its own alias: host, port and encryption are the user's.
        peticion.servidor = direccion.host;
        destino = "«" + direccion.host + "»";
    } else {
        const auto direcciones = resuelveHost(direccion.host, plazo);
        std::uint16_t puerto = direccion.puerto;
        if (puerto == 0)
            puerto = direccion.instancia.empty()
                         ? kPuertoPorDefecto
                         : buscaPuertoInstancia(direcciones, direccion.host, direccion.instancia, plazo);
        peticion.servidor = direccion.host;
        peticion.configuracion = configuracionPara(direccion.host, puerto, proveedor.versionTds);
        DireccionServidor conPuerto = direccion;
        conPuerto.puerto = puerto;
        destino = conPuerto.describe();
    }
    peticion.segundosLogin = segundosDeLogin(plazo);
    return peticion;
}

void ConexionFreeTds::open() {
    if (isOpen())
        throw ErrorConexion("La conexión ya está abierta.");
    const Ajustes ajustes = leeAjustes(ConnectionString::parse(cadena_), tiempoEsperaPorDefecto_);
    const Proveedor& proveedor = buscaProveedor(ajustes.proveedor);
    const DireccionServidor direccion = leeDireccionServidor(ajustes.servidor);
    const Plazo plazo(ajustes.tiempoEspera);

    if (ajustes.seguridadIntegrada)
        if (auto motivo = faltaTicketKerberos())
            throw ErrorConexion(textos::sinTicketKerberos(*motivo));

    std::string destino;
    const PeticionSesion peticion = preparaPeticion(ajustes, proveedor, direccion, plazo, destino);
    Diagnostico diagnostico;
    proceso_ = abreSesion(peticion, diagnostico);
    if (!proceso_)
        throw ErrorConexion(describeFallo(diagnostico, destino, plazo, ajustes.seguridadIntegrada));
}

std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto) {
    return std::make_unique<ConexionFreeTds>(tiempoEsperaPorDefecto);
}

std::unique_ptr<Conexion> nuevaConexion() { return std::make_unique<ConexionFreeTds>(); }

} // namespace data_access
