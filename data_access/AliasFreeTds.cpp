#include "AliasFreeTds.h"

#include "TextoAscii.h"

#include <cstdlib>
#include <fstream>

namespace data_access {

std::vector<std::string> archivosConfiguracionFreeTds() {
    std::vector<std::string> archivos;
    if (const char* conf = std::getenv("FREETDSCONF"))
        archivos.emplace_back(conf);
    if (const char* raiz = std::getenv("FREETDS"))
        archivos.push_back(std::string(raiz) + "/etc/freetds.conf");
    if (const char* home = std::getenv("HOME"))
        archivos.push_back(std::string(home) + "/.freetds.conf");
    archivos.emplace_back("/etc/freetds/freetds.conf");
    return archivos;
}

bool esAliasFreeTds(const std::string& nombre, const std::vector<std::string>& archivos) {
    if (nombre.empty() || igualSinMayusculas(nombre, "global"))
        return false;
    for (const std::string& ruta : archivos) {
        std::ifstream archivo(ruta);
        std::string linea;
        while (std::getline(archivo, linea)) {
            auto abre = linea.find_first_not_of(" \t");
            if (abre == std::string::npos || linea[abre] != '[')
                continue;
            auto cierra = linea.find(']', abre);
            if (cierra != std::string::npos && igualSinMayusculas(linea.substr(abre + 1, cierra - abre - 1), nombre))
                return true;
        }
    }
    return false;
}

} // namespace data_access
