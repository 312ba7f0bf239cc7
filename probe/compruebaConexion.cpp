#include "main_window/frmPrincipal.h"

#include "login_shared/Textos.h"
#include "main_window/mensajeCritico.h"
#include "probe/cursorAplicacion.h"
#include "probe/esperaSinBloquear.h"
#include "probe/pasadaConexion.h"
#include "probe/utf8Fiel.h"

#include <exception>

bool frmPrincipal::compruebaConexion(QString proveedor, QString servidor, QString baseDatos, QString usuario,
                                     QString password, QString& textoError) {
    bool resultado = false;
    try {
        if (servidor.isEmpty()) {
            muestraMensajeCritico(this, QString::fromUtf8(probe::kIndiqueServidor));
            return resultado;
        }
        probe::fijaCursorAplicacion(Qt::WaitCursor);
        if (!conexion)
            conexion = fabricaConexion();
        if (!conexion)
            throw login_shared::ErrorConexion(login_shared::textos::objetoConexionNoCreado(),
                                              login_shared::Causa::Interno);
        probe::preparaCadena(*conexion, probe::utf8Fiel(proveedor), probe::utf8Fiel(servidor),
                             probe::utf8Fiel(baseDatos), probe::utf8Fiel(usuario), probe::utf8Fiel(password));
        // The open may wait on the network for seconds: off this thread, so the
        // window keeps painting. Only that thread touches the object meanwhile.
        data_access::Conexion* enApertura = conexion.get();
        probe::esperaSinBloquear([enApertura] { enApertura->open(); });
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = true;
    } catch (const std::exception& error) {
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = false;
        textoError = QString::fromUtf8(error.what());
    } catch (...) {
        probe::fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = false;
        textoError = QString::fromUtf8(probe::kErrorDesconocido);
    }
    return resultado;
}
