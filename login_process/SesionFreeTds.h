#pragma once

#include "login_process/CopiasContrasena.h"
#include "login_shared/Peticion.h"

#include <memory>
#include <string>
#include <vector>

struct tds_dblib_dbprocess;

namespace login_process {

using login_shared::Credenciales;

// What the server said (INFO/ERROR tokens) during one login.
struct MensajeServidor {
    int numero = 0;
    int estado = 0;
    int clase = 0;
    std::string texto;
};

// What db-lib itself reported (its SYBE* numbers).
struct ErrorCliente {
    int numero = 0;
    int errorSistema = 0;
    std::string texto;
};

// Bounded whatever the server sends: the first messages of each kind whole
// (their texts cut at kTextoMaximo bytes), and a count of the rest.
struct Diagnostico {
    static constexpr std::size_t kMensajesMaximos = 10;
    static constexpr std::size_t kTextoMaximo = 4000;

    std::vector<MensajeServidor> mensajes; // errors (class above 10) and informational ones
    std::size_t erroresOmitidos = 0;       // errors beyond the ones kept
    std::vector<ErrorCliente> errores;
    std::string nombreServidor; // as the server's own messages name it
};

struct PeticionSesion {
    std::string servidor;             // the name dbopen gets: a section of `archivoConfiguracion`
    std::string archivoConfiguracion; // freetds.conf read before FreeTDS's own files
    int versionDbLib = 0;
    Credenciales credenciales;
    std::string juegoCaracteres = "UTF-8"; // of the values above and of what the server says
    int segundosLogin = 0;                 // 0: no limit
};

// db-lib's DBPROCESS (a session, not an OS process), closed by its one owner.
struct CierraSesionDb {
    void operator()(tds_dblib_dbprocess* sesion) const;
};
using SesionDb = std::unique_ptr<tds_dblib_dbprocess, CierraSesionDb>;

// db-lib's initialisation and the character conversions a login uses,
// done before the request arrives; abreSesion does it if nobody has.
void preparaDbLib();

// One db-lib login. Returns the open process, or nullptr with what went
// wrong in `diagnostico`. db-lib's handlers, timeouts and configuration file
// are process-wide: this runs once per login process. The password db-lib's
// LOGINREC keeps is among `copias` while dbopen runs.
SesionDb abreSesion(const PeticionSesion& peticion, Diagnostico& diagnostico, CopiasContrasena& copias);
// The TDS version agreed with the server: "7.3".
std::string versionAcordada(const SesionDb& sesion);

} // namespace login_process
