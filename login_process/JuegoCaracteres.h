#pragma once

#include "login_process/SesionFreeTds.h"
#include "login_shared/Peticion.h"

#include <string>

namespace login_process {

// The character set db-lib gets the login's values in, "UTF-8" or "CP1252";
// for "CP1252" the values are converted in place, their UTF-8 bytes wiped.
// Throws ErrorConexion naming a value too long for db-lib in either.
std::string juegoCaracteresPara(login_shared::Credenciales& credenciales);

// The server's messages, which db-lib hands over in `juegoCaracteres`, in UTF-8.
void mensajesEnUtf8(Diagnostico& diagnostico, const std::string& juegoCaracteres);

} // namespace login_process
