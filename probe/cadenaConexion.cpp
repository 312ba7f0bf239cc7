#include "probe/cadenaConexion.h"

#include "login_shared/Secreto.h"
#include "login_shared/TextoAscii.h"

#include <cstring>

namespace probe {

namespace {

using login_shared::esBlanco;

bool necesitaComillas(const std::string& valor) {
    if (valor.empty())
        return false;
    // The parser trims unquoted values, ends them at ";", takes a leading
    // quote as the start of a quoted value and reads "Key==" as an "=" inside
    // the key.
    return valor.find(';') != std::string::npos || valor.front() == '"' || valor.front() == '\'' ||
           valor.front() == '=' || esBlanco(valor.front()) || esBlanco(valor.back());
}

// Built in one buffer sized first, and the value's copy wiped: for the
// password, no freed copy is left behind.
std::string par(const char* clave, const std::string& valor) {
    std::string escrito = valorCadena(valor);
    std::string r;
    r.reserve(std::strlen(clave) + escrito.size() + 2);
    r.append(clave).append("=").append(escrito).append(";");
    login_shared::borraSecreto(escrito);
    return r;
}

} // namespace

std::string valorCadena(const std::string& valor) {
    if (!necesitaComillas(valor))
        return valor;
    std::string entrecomillado;
    entrecomillado.reserve(2 * valor.size() + 2);
    entrecomillado += '"';
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
    const std::string deUsuario = par("User ID", usuario);
    std::string dePassword = par("Password", password);
    std::string r;
    r.reserve(deUsuario.size() + dePassword.size());
    r.append(deUsuario).append(dePassword);
    login_shared::borraSecreto(dePassword);
    return r;
}

} // namespace probe
