#include "data_access/Ajustes.h"

#include "data_access/Conexion.h"
#include "data_access/ConnectionString.h"
#include "data_access/Textos.h"
#include "login_shared/TextoAscii.h"

#include <array>
#include <initializer_list>

namespace data_access {

using login_shared::ErrorConexion;
using login_shared::igualSinMayusculas;
using login_shared::leeEntero;

namespace {

// The last of the synonyms present wins, as ADO lets a later pair override
// an earlier one.
std::optional<std::string> busca(const ConnectionString& cadena,
                                 std::initializer_list<std::string_view> claves) {
    const auto& pares = cadena.pairs();
    for (auto it = pares.rbegin(); it != pares.rend(); ++it)
        for (std::string_view clave : claves)
            if (igualSinMayusculas(it->first, clave))
                return it->second;
    return std::nullopt;
}

bool esVerdadero(const std::string& valor) {
    static constexpr std::array<std::string_view, 3> verdaderos{"sspi", "true", "yes"};
    for (std::string_view v : verdaderos)
        if (igualSinMayusculas(valor, v))
            return true;
    return false;
}

std::optional<std::chrono::milliseconds> leeTiempoEspera(const std::string& texto) {
    const long segundos = leeEntero(texto).value_or(-1);
    if (segundos < 0 || segundos > 86400)
        throw ErrorConexion(textos::tiempoEsperaNoValido(texto));
    if (segundos == 0)
        return std::nullopt;
    return std::chrono::seconds(segundos);
}

} // namespace

Ajustes leeAjustes(const ConnectionString& cadena, std::chrono::milliseconds tiempoEsperaPorDefecto) {
    Ajustes a;
    a.proveedor = busca(cadena, {"Provider"}).value_or("");
    auto servidor = busca(cadena, {"Server", "Data Source", "Address", "Addr", "Network Address"});
    if (!servidor)
        throw ErrorConexion(textos::cadenaSinServidor());
    a.servidor = *servidor;
    a.baseDatos = busca(cadena, {"Database", "Initial Catalog"}).value_or("");
    a.usuario = busca(cadena, {"User ID", "UID", "User"}).value_or("");
    // Into the one field, leaving no temporary copy behind to be freed unwiped.
    for (auto it = cadena.pairs().rbegin(); it != cadena.pairs().rend(); ++it)
        if (igualSinMayusculas(it->first, "Password") || igualSinMayusculas(it->first, "PWD")) {
            a.password = login_shared::Secreto(it->second);
            break;
        }
    a.seguridadIntegrada =
        esVerdadero(busca(cadena, {"Integrated Security", "Trusted_Connection"}).value_or(""));
    a.tiempoEspera = tiempoEsperaPorDefecto;
    if (auto t = busca(cadena, {"Connect Timeout", "Connection Timeout", "Timeout"}))
        a.tiempoEspera = leeTiempoEspera(*t);
    if (auto app = busca(cadena, {"Application Name", "App"}))
        a.aplicacion = *app;
    a.estacion = busca(cadena, {"Workstation ID", "WSID"}).value_or("");
    return a;
}

} // namespace data_access
