#include "ConexionFreeTds.h"

#include "Ajustes.h"
#include "ConnectionString.h"
#include "DireccionServidor.h"
#include "Plazo.h"
#include "ProcesoLogin.h"
#include "Proveedor.h"
#include "TextosError.h"
#include "TicketKerberos.h"

namespace data_access {

ConexionFreeTds::ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto)
    : tiempoEsperaPorDefecto_(tiempoEsperaPorDefecto) {}

ConexionFreeTds::~ConexionFreeTds() = default;

void ConexionFreeTds::setConnectionString(const std::string& connectionString) {
    if (isOpen())
        throw ErrorConexion("No se puede cambiar la cadena de conexión con la conexión abierta.");
    cadena_ = connectionString;
}

void ConexionFreeTds::close() {
    if (!isOpen())
        throw ErrorConexion("La conexión no está abierta.");
    proceso_.reset();
}

void ConexionFreeTds::open() {
    if (isOpen())
        throw ErrorConexion("La conexión ya está abierta.");
    const Ajustes ajustes = leeAjustes(ConnectionString::parse(cadena_), tiempoEsperaPorDefecto_);
    const Plazo plazo(ajustes.tiempoEspera);
    const Proveedor& proveedor = buscaProveedor(ajustes.proveedor);
    const DireccionServidor direccion = leeDireccionServidor(ajustes.servidor);

    if (ajustes.seguridadIntegrada)
        if (auto motivo = faltaTicketKerberos())
            throw ErrorConexion(textos::sinTicketKerberos(*motivo));

    PeticionLogin peticion;
    peticion.versionDbLib = proveedor.versionDbLib;
    peticion.versionTds = proveedor.versionTds;
    peticion.host = direccion.host;
    peticion.puerto = direccion.puerto;
    peticion.instancia = direccion.instancia;
    peticion.baseDatos = ajustes.baseDatos;
    peticion.aplicacion = ajustes.aplicacion;
    peticion.estacion = ajustes.estacion;
    peticion.integrada = ajustes.seguridadIntegrada;
    if (!peticion.integrada) {
        peticion.usuario = ajustes.usuario;
        peticion.password = ajustes.password;
    }
    peticion.resolucionFija = resolucionFija_;
    proceso_ = ProcesoLogin::abre(peticion, plazo);
}

std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto) {
    return std::make_unique<ConexionFreeTds>(tiempoEsperaPorDefecto);
}

std::unique_ptr<Conexion> nuevaConexion() { return std::make_unique<ConexionFreeTds>(); }

} // namespace data_access
