#include "probe/pasadaConexion.h"

#include "login_shared/Secreto.h"
#include "probe/cadenaConexion.h"

#include <exception>

namespace probe {

void preparaCadena(data_access::Conexion& conexion, const std::string& proveedor, const std::string& servidor,
                   const std::string& baseDatos, const std::string& usuario,
                   const login_shared::Secreto& password) {
    conexion.setConnectionString(cadenaBase(proveedor, servidor, baseDatos));
    std::string sufijo = sufijoCredenciales(usuario, password.texto());
    std::string cadena = conexion.connectionString() + sufijo;
    login_shared::borraSecreto(sufijo);
    try {
        conexion.setConnectionString(cadena);
    } catch (...) {
        login_shared::borraSecreto(cadena);
        throw;
    }
    login_shared::borraSecreto(cadena);
}

ResultadoPasada ejecutaPasada(std::unique_ptr<data_access::Conexion>& conexion,
                              const FabricaConexion& fabrica, const std::string& proveedor,
                              const std::string& servidor, const std::string& baseDatos,
                              const std::string& usuario, const login_shared::Secreto& password) {
    ResultadoPasada r;
    if (servidor.empty()) {
        r.descripcion = kIndiqueServidor;
        return r;
    }
    try {
        if (!conexion)
            conexion = fabrica();
        if (!conexion)
            throw login_shared::ErrorConexion(kObjetoConexionNoCreado, login_shared::Causa::Interno);
        preparaCadena(*conexion, proveedor, servidor, baseDatos, usuario, password);
        conexion->open();
        r.correcta = true;
    } catch (const std::exception& error) {
        r.descripcion = error.what();
    } catch (...) {
        r.descripcion = kErrorDesconocido;
    }
    if (conexion) {
        r.datos = conexion->datosApertura();
        r.resumen = conexion->resumenApertura();
    }
    // A login that went through is closed again; a failure here is told but
    // changes no verdict.
    if (r.correcta) {
        try {
            conexion->close();
        } catch (const std::exception& error) {
            r.descripcion = error.what();
            return r;
        }
    }
    conexion.reset();
    return r;
}

ResultadoPasada ejecutaPasada(const FabricaConexion& fabrica, const std::string& proveedor,
                              const std::string& servidor, const std::string& baseDatos,
                              const std::string& usuario, const login_shared::Secreto& password) {
    std::unique_ptr<data_access::Conexion> conexion;
    return ejecutaPasada(conexion, fabrica, proveedor, servidor, baseDatos, usuario, password);
}

} // namespace probe
