#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_process {

// The freetds.conf files FreeTDS itself reads, in its order.
std::vector<std::string> archivosConfiguracionFreeTds();

// A server section ([nombre]) of a freetds.conf, with the [global] values
// FreeTDS would apply before it. Only what decides where and how the login
// travels is kept; everything else (dump file above all: it would log the
// login) is left out.
struct AliasFreeTds {
    std::string archivo;
    std::string host; // empty: none given
    std::uint16_t puerto = 0;
    std::string instancia;
    std::string cifrado; // "off", "request", "require" or anything the user wrote
    std::string spn;
    std::string realm;
    std::string caFile;
    std::string crlFile;
    std::string compruebaNombreCertificado;
};

// Reads `archivos` the way FreeTDS 1.3 does (first file holding the section
// wins; 255-character lines; ';' and '#' start comments; blanks collapse).
std::optional<AliasFreeTds> buscaAliasFreeTds(const std::string& nombre,
                                              const std::vector<std::string>& archivos);

} // namespace login_process
