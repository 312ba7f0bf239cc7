#pragma once

#include "login_process/Relevo.h"
#include "login_process/SesionFreeTds.h"
#include "login_process/SondaTds8.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Peticion.h"
#include "login_shared/Plazo.h"

#include <optional>
#include <string>

namespace login_process {

using login_shared::ErrorApertura;
using login_shared::PeticionLogin;
using login_shared::Plazo;

// Turns what the relay saw, what db-lib reported and what the server said
// about a failed login into one Spanish description: what failed and where,
// then the server's own messages verbatim; with it, what stopped the login
// and the server's version. The relay is believed first: it saw the network,
// db-lib only its side of the loopback. `tds8` is what a server that closed
// on the PRELOGIN answered to TLS first, when asked.
ErrorApertura describeFallo(const Diagnostico& diagnostico, const Relevo::Resultado& red,
                            const std::string& destino, const Plazo& plazo, const PeticionLogin& peticion,
                            RespuestaTds8 tds8 = RespuestaTds8::Ninguna);

// A login db-lib calls open that is not one: db-lib 1.3 ignores DONE's status
// during a login, reads any packet type and accepts a LOGINACK version it does
// not know. It is one only when this process read the whole reply itself (in
// clear, or as TLS decrypted it) and found a LOGINACK with a version SQL
// Server sends, at or below the one the generation asked for, no error of
// class 11 or more and no DONE with its error flag. Nothing when it is.
std::optional<ErrorApertura> contradiceLaApertura(const Diagnostico& diagnostico,
                                                  const Relevo::Resultado& red, const std::string& destino,
                                                  const PeticionLogin& peticion);

// Whether what the relay saw is a server that closed or reset the
// connection on the PRELOGIN in clear without a byte: the one case that is
// worth asking whether it speaks TDS 8.0 (strict encryption).
bool cerroSinResponderAlPrelogin(const Relevo::Resultado& red);

} // namespace login_process
