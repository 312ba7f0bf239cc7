#include "data_access/ConexionFreeTds.h"

#include "data_access/Ajustes.h"
#include "data_access/ConnectionString.h"
#include "data_access/LoginHijo.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/Plazo.h"
#include "login_shared/Proveedor.h"
#include "login_shared/TextoUtf8.h"
#include "login_shared/Textos.h"

namespace data_access {

namespace {

// SQL Server's limit for logins, passwords and names (sysname).
constexpr std::size_t kMaximoCaracteres = 128;

// Nothing is sent that would reach the server other than as typed.
void compruebaValor(const char* campo, const std::string& valor) {
    if (auto motivo = motivoValorNoValido(valor))
        throw ErrorConexion(textos::valorNoValido(campo, *motivo));
    if (const std::size_t n = unidadesUtf16(valor); n > kMaximoCaracteres)
        throw ErrorConexion(textos::valorDemasiadoLargo(campo, n, kMaximoCaracteres));
}

} // namespace

ConexionFreeTds::ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto,
                                 std::shared_ptr<CuadrillaLogins> cuadrilla)
    : tiempoEsperaPorDefecto_(tiempoEsperaPorDefecto), cuadrilla_(std::move(cuadrilla)) {}

ConexionFreeTds::~ConexionFreeTds() = default;

void ConexionFreeTds::setConnectionString(const std::string& connectionString) {
    if (isOpen())
        throw ErrorConexion(textos::cadenaConConexionAbierta());
    cadena_ = connectionString;
}

void ConexionFreeTds::close() {
    if (!isOpen())
        throw ErrorConexion(textos::conexionNoAbierta());
    login_.reset();
}

void ConexionFreeTds::open() {
    if (isOpen())
        throw ErrorConexion(textos::conexionYaAbierta());
    const auto inicio = Plazo::Reloj::now();
    const auto duracion = [&inicio] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Plazo::Reloj::now() - inicio);
    };
    resumen_.clear();
    datos_.reset();
    // One duration for the lines and the values, so both tell the same time.
    const auto anota = [this](bool abierta, Etapa etapa, std::chrono::milliseconds transcurrido) {
        DatosApertura d;
        d.abierta = abierta;
        if (abierta)
            d.resumen = login_->resumen();
        d.etapa = etapa;
        d.duracion = transcurrido;
        datos_ = d;
        resumen_ = abierta ? textos::resumenApertura(d.resumen, transcurrido)
                           : textos::resumenFallo(etapa, transcurrido);
    };
    try {
        iniciaLogin();
        anota(true, Etapa::RespuestaLogin, duracion());
    } catch (const ErrorApertura& e) {
        anota(false, Etapa(e.etapa()), duracion());
        throw;
    } catch (const ErrorConexion&) {
        anota(false, Etapa::Preparacion, duracion());
        throw;
    }
}

void ConexionFreeTds::iniciaLogin() {
    const Ajustes ajustes = leeAjustes(ConnectionString::parse(cadena_), tiempoEsperaPorDefecto_);
    const Plazo plazo(ajustes.tiempoEspera);
    const Proveedor& proveedor = buscaProveedor(ajustes.proveedor);
    const DireccionServidor direccion = leeDireccionServidor(ajustes.servidor);

    PeticionLogin peticion = peticionDeGeneracion(proveedor);
    peticion.host = direccion.host;
    peticion.puerto = direccion.puerto;
    peticion.instancia = direccion.instancia;
    Credenciales& c = peticion.credenciales;
    c.baseDatos = ajustes.baseDatos;
    c.aplicacion = ajustes.aplicacion;
    c.estacion = ajustes.estacion;
    c.integrada = ajustes.seguridadIntegrada;
    if (!c.integrada) {
        c.usuario = ajustes.usuario;
        c.password = ajustes.password;
    }
    for (const auto& [campo, valor] : valoresConNombre(c))
        compruebaValor(campo, *valor);
    compruebaValor("la instancia", peticion.instancia);
    login_ = LoginHijo::inicia(peticion, plazo, resolucionFija_, cuadrilla_.get());
}

std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto,
                                        std::shared_ptr<CuadrillaLogins> cuadrilla) {
    return std::make_unique<ConexionFreeTds>(tiempoEsperaPorDefecto, std::move(cuadrilla));
}

std::unique_ptr<Conexion> nuevaConexion() {
    return std::make_unique<ConexionFreeTds>();
}

} // namespace data_access
