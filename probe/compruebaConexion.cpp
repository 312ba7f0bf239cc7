#include "frmPrincipal.h"

#include "cadenaConexion.h"
#include "cursorAplicacion.h"
#include "mensajeCritico.h"

#include <exception>

bool frmPrincipal::compruebaConexion(QString proveedor, QString servidor, QString baseDatos, QString usuario,
                                     QString password, QString& textoError) {
    bool resultado = false;
    try {
        if (servidor.isEmpty()) {
            muestraMensajeCritico(
                this, QStringLiteral("Imposible conectar con Servidor SQL Server: Indique Servidor."));
            return resultado;
        }
        probe::fijaCursorAplicacion(Qt::WaitCursor);
        if (!conexion)
            conexion = fabricaConexion();
        if (!conexion)
            throw data_access::ErrorConexion("No se pudo crear el objeto de conexión.");
        conexion->setConnectionString(
            probe::cadenaBase(proveedor.toStdString(), servidor.toStdString(), baseDatos.toStdString()));
        conexion->setConnectionString(
            conexion->connectionString() +
            probe::sufijoCredenciales(usuario.toStdString(), password.toStdString()));
        conexion->open();
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = true;
    } catch (const std::exception& error) {
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = false;
        textoError = QString::fromUtf8(error.what());
    } catch (...) {
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = false;
        textoError = QStringLiteral("Error desconocido al conectar.");
    }
    return resultado;
}
