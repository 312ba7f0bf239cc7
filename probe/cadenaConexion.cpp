#include "probe/cadenaConexion.h"

#include "login_shared/TextoAscii.h"

namespace probe {

namespace {

using data_access::esBlanco;

bool necesitaComillas(const std::string& valor) {
    if (valor.empty())
        return false;
    // The parser trims unquoted values, ends them at ";", takes a leading
    // quote as the start of a quoted value and reads "Key==" as an "=" inside
    // the key.
    return valor.find(';') != std::string::npos || valor.front() == '"' || valor.front() == '\'' ||
           valor.front() == '=' || esBlanco(valor.front()) || esBlanco(valor.back());
}

std::string par(const char* clave, const std::string& valor) {
    return std::string(clave) + "=" + valorCadena(valor) + ";";
}

} // namespace

std::string valorCadena(const std::string& valor) {
    if (!necesitaComillas(valor))
        return valor;
    std::string entrecomillado = "\"";
    for (char c : valor) {
        if (c == '"')
            entrecomillado += '"';
        entrecomillado += c;
    }
    entrecomillado += '"';
    return entrecomillado;
}

std::string cadenaBase(const std::string& proveedor, const std::string& servidor,
                       const std::string& baseDatos) {
    return par("Provider", proveedor) + par("Server", servidor) + par("Database", baseDatos) +
           "DataTypeCompatibility=80;";
}

std::string sufijoCredenciales(const std::string& usuario, const std::string& password) {
    // Only the user decides; the password goes in even when empty.
    if (usuario.empty())
        return "Integrated Security=SSPI;";
    return par("User ID", usuario) + par("Password", password);
}

} // namespace probe
