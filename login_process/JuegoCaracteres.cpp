#include "login_process/JuegoCaracteres.h"

#include "login_process/ConversionTexto.h"
#include "login_process/Textos.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Secreto.h"

#include <vector>

namespace login_process {

using login_shared::borraSecreto;
using login_shared::ErrorConexion;
using login_shared::valoresConNombre;

namespace {

// db-lib refuses values over 128 bytes (dbsetlname, TDS_MAX_LOGIN_STR_SZ in
// FreeTDS 1.3), while SQL Server counts 128 characters: a value of accented
// letters is longer than that in UTF-8. Windows-1252 has one byte for each
// of them, so such a login goes in it; values with characters beyond it
// keep UTF-8 and its limit. The bytes are the client's only: LOGIN7 is
// UCS-2 either way.
constexpr std::size_t kMaximoDbLib = 128;

} // namespace

std::string juegoCaracteresPara(Credenciales& credenciales) {
    const auto valores = valoresConNombre(credenciales);
    bool cabe = true;
    for (const auto& v : valores)
        cabe = cabe && v.second->size() <= kMaximoDbLib;
    if (cabe)
        return "UTF-8";
    std::vector<std::string> convertidos;
    for (const auto& [campo, valor] : valores) {
        auto c = convierte(*valor, "UTF-8", "CP1252");
        if (!c || c->size() > kMaximoDbLib) {
            for (const auto& [otroCampo, otro] : valores)
                if (otro->size() > kMaximoDbLib)
                    throw ErrorConexion(
                        textos::valorDemasiadoLargoParaDbLib(otroCampo, otro->size(), kMaximoDbLib));
        }
        convertidos.push_back(std::move(*c));
    }
    for (std::size_t i = 0; i < std::size(valores); ++i) {
        borraSecreto(*valores[i].second);
        *valores[i].second = convertidos[i];
        borraSecreto(convertidos[i]); // one of them is the password
    }
    return "CP1252";
}

void mensajesEnUtf8(Diagnostico& diagnostico, const std::string& juegoCaracteres) {
    if (juegoCaracteres == "UTF-8")
        return;
    for (MensajeServidor& m : diagnostico.mensajes)
        m.texto = convierte(m.texto, juegoCaracteres.c_str(), "UTF-8").value_or(m.texto);
}

} // namespace login_process
