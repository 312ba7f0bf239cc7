#pragma once

#include "login_process/AliasFreeTds.h"
#include "login_shared/Descriptor.h"

#include <cstdint>
#include <optional>
#include <string>

namespace login_process {

// db-lib's own freetds.conf for one login. FreeTDS 1.3.17 takes host, port,
// TDS version and encryption only from a configuration file
// (dbsetlbool(DBSETENCRYPT) fails); FreeTDS 1.5 adds DBSETLENCRYPT, which can
// replace the encryption line once Debian ships it.
struct ConfiguracionFreeTds {
    std::string servidor; // the typed name: the section db-lib looks for and what LOGIN7 names as the server
    std::uint16_t puertoRelevo = 0;
    std::string versionTds;
    std::string cifrado;
    std::string juegoCaracteres;
    std::string spn;                   // integrated security only
    std::optional<AliasFreeTds> alias; // its realm, CA and CRL files and certificate-name check
};

// The file's text. Throws ErrorConexion naming a value FreeTDS would not read
// back exactly as written.
std::string textoConfiguracion(const ConfiguracionFreeTds& configuracion);

// The configuration lives in memory only: nothing is left on disk, even
// when the process is killed.
class ArchivoEnMemoria {
public:
    // Throws ErrorConexion when the system cannot make it.
    explicit ArchivoEnMemoria(const std::string& contenido);
    // Where db-lib reads it.
    std::string ruta() const;

private:
    login_shared::Descriptor fd_;
};

} // namespace login_process
