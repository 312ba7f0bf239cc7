#include "main_window/frmPrincipal.h"

#include "login_shared/Secreto.h"
#include "main_window/cursorAplicacion.h"
#include "main_window/esperaSinBloquear.h"
#include "main_window/mensajeCritico.h"
#include "main_window/utf8Fiel.h"

#include <exception>

probe::ResultadoPasada frmPrincipal::compruebaConexion(QString proveedor, QString servidor, QString baseDatos,
                                                       QString usuario, QString password,
                                                       QString& textoError) {
    probe::ResultadoPasada resultado;
    try {
        // The pass would not try it either; the window says so in a box, with no cursor of its own.
        if (servidor.isEmpty()) {
            muestraMensajeCritico(this, QString::fromUtf8(probe::kIndiqueServidor));
            return resultado;
        }
        fijaCursorAplicacion(Qt::WaitCursor);
        const std::string deProveedor = utf8Fiel(proveedor), deServidor = utf8Fiel(servidor),
                          deBaseDatos = utf8Fiel(baseDatos), deUsuario = utf8Fiel(usuario);
        const login_shared::Secreto clave(utf8Fiel(password));
        // The pass may wait on the network for seconds: off this thread, so the
        // window keeps painting. Only that thread touches the object meanwhile.
        esperaSinBloquear([&] {
            resultado = probe::ejecutaPasada(conexion, fabricaConexion, deProveedor, deServidor, deBaseDatos,
                                             deUsuario, clave);
        });
        fijaCursorAplicacion(Qt::ArrowCursor);
        if (!resultado.correcta)
            textoError = QString::fromStdString(resultado.descripcion);
    } catch (const std::exception& error) {
        fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = {};
        textoError = QString::fromUtf8(error.what());
    } catch (...) {
        fijaCursorAplicacion(Qt::ArrowCursor);
        resultado = {};
        textoError = QString::fromUtf8(probe::kErrorDesconocido);
    }
    return resultado;
}
