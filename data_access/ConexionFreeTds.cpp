#include "data_access/ConexionFreeTds.h"

#include "data_access/Ajustes.h"
#include "data_access/ConnectionString.h"
#include "data_access/LoginHijo.h"
#include "data_access/Textos.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"
#include "login_shared/TextoUtf8.h"

namespace data_access {

using login_shared::borraSecreto;
using login_shared::buscaProveedor;
using login_shared::Causa;
using login_shared::Credenciales;
using login_shared::DireccionServidor;
using login_shared::ErrorApertura;
using login_shared::ErrorConexion;
using login_shared::Etapa;
using login_shared::leeDireccionServidor;
using login_shared::motivoValorNoValido;
using login_shared::peticionDeGeneracion;
using login_shared::PeticionLogin;
using login_shared::Plazo;
using login_shared::Proveedor;
using login_shared::unidadesUtf16;
using login_shared::valoresConNombre;

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

ConexionFreeTds::ConexionFreeTds(std::chrono::milliseconds tiempoEsperaPorDefecto, bool plazoDesdeElProceso,
                                 std::shared_ptr<CuadrillaLogins> cuadrilla, std::string archivoCa,
                                 bool juzgaParaResumen)
    : tiempoEsperaPorDefecto_(tiempoEsperaPorDefecto), plazoDesdeElProceso_(plazoDesdeElProceso),
      cuadrilla_(std::move(cuadrilla)), archivoCa_(std::move(archivoCa)),
      juzgaParaResumen_(juzgaParaResumen) {}

// The string holds the password.
ConexionFreeTds::~ConexionFreeTds() {
    borraSecreto(cadena_);
}

void ConexionFreeTds::setConnectionString(const std::string& connectionString) {
    if (isOpen())
        throw ErrorConexion(textos::cadenaConConexionAbierta());
    borraSecreto(cadena_);
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
    const auto anota = [this](Etapa etapa, std::optional<Causa> causa, std::string versionServidor,
                              std::chrono::milliseconds transcurrido) {
        DatosApertura d;
        d.abierta = !causa;
        if (d.abierta)
            d.resumen = login_->resumen();
        d.etapa = etapa;
        d.causa = causa;
        d.versionServidor = std::move(versionServidor);
        d.duracion = transcurrido;
        datos_ = d;
        resumen_ = d.abierta ? textos::resumenApertura(d.resumen, transcurrido)
                             : textos::resumenFallo(etapa, transcurrido);
    };
    try {
        iniciaLogin(inicio);
        anota(Etapa::RespuestaLogin, std::nullopt, login_->resumen().versionServidor, duracion());
    } catch (const ErrorApertura& e) {
        // The time the description states, when it states one: the row and its text tell one time.
        anota(e.etapa(), e.causa(), e.versionServidor(), e.transcurrido().value_or(duracion()));
        datos_->errorServidor = e.errorServidor();
        datos_->pruebaEnviada = e.pruebaEnviada();
        throw;
    } catch (const ErrorConexion& e) {
        anota(Etapa::Preparacion, e.causa(), {}, duracion());
        throw;
    }
}

void ConexionFreeTds::iniciaLogin(Plazo::Reloj::time_point inicio) {
    const Ajustes ajustes = leeAjustes(ConnectionString::parse(cadena_), tiempoEsperaPorDefecto_);
    // The deadline counts from open()'s first line: whatever ran before the login counts against it.
    const Plazo plazo(ajustes.tiempoEspera,
                      std::chrono::duration_cast<std::chrono::milliseconds>(Plazo::Reloj::now() - inicio));
    const Proveedor& proveedor = buscaProveedor(ajustes.proveedor);
    const DireccionServidor direccion = leeDireccionServidor(ajustes.servidor);

    PeticionLogin peticion = peticionDeGeneracion(proveedor);
    peticion.host = direccion.host;
    peticion.puerto = direccion.puerto;
    peticion.instancia = direccion.instancia;
    peticion.archivoCa = archivoCa_;
    peticion.juzgaParaResumen = juzgaParaResumen_;
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
    login_ = LoginHijo::lanza(peticion, plazo, resolucionFija_, plazoDesdeElProceso_, cuadrilla_.get());
}

std::unique_ptr<Conexion> nuevaConexion(std::chrono::milliseconds tiempoEsperaPorDefecto,
                                        bool plazoDesdeElProceso, std::shared_ptr<CuadrillaLogins> cuadrilla,
                                        std::string archivoCa, bool juzgaParaResumen) {
    return std::make_unique<ConexionFreeTds>(tiempoEsperaPorDefecto, plazoDesdeElProceso,
                                             std::move(cuadrilla), std::move(archivoCa), juzgaParaResumen);
}

std::unique_ptr<Conexion> nuevaConexion() {
    return std::make_unique<ConexionFreeTds>();
}

} // namespace data_access
