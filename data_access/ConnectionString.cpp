#include "data_access/ConnectionString.h"

#include "data_access/Conexion.h"
#include "data_access/Textos.h"
#include "login_shared/Secreto.h"
#include "login_shared/TextoAscii.h"

namespace data_access {

using login_shared::borraSecreto;
using login_shared::ErrorConexion;
using login_shared::esBlanco;
using login_shared::igualSinMayusculas;
using login_shared::recorta;

namespace {

// Reads one pair from `text` at `pos`; returns false when only blanks and
// separators are left.
class Lector {
public:
    explicit Lector(std::string_view text) : text_(text) {}

    bool siguiente(std::string& clave, std::string& valor) {
        while (pos_ < text_.size() && (text_[pos_] == ';' || esBlanco(text_[pos_])))
            ++pos_;
        if (pos_ >= text_.size())
            return false;
        clave = leeClave();
        valor = leeValor();
        return true;
    }

private:
    std::string leeClave() {
        std::string clave;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == ';')
                throw ErrorConexion(textos::cadenaClaveSinIgual(std::string(recorta(clave))));
            if (text_[pos_] == '=') {
                // "==" inside a key stands for a literal "=".
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '=') {
                    clave += '=';
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            clave += text_[pos_++];
        }
        std::string_view limpia = recorta(clave);
        if (limpia.empty())
            throw ErrorConexion(textos::cadenaValorSinClave());
        return std::string(limpia);
    }

    std::string leeValor() {
        while (pos_ < text_.size() && esBlanco(text_[pos_]) && text_[pos_] != ';')
            ++pos_;
        if (pos_ < text_.size() && (text_[pos_] == '"' || text_[pos_] == '\''))
            return leeValorEntrecomillado();
        std::size_t fin = text_.find(';', pos_);
        if (fin == std::string_view::npos)
            fin = text_.size();
        std::string valor(recorta(text_.substr(pos_, fin - pos_)));
        pos_ = fin;
        return valor;
    }

    std::string leeValorEntrecomillado() {
        const char comilla = text_[pos_++];
        std::string valor;
        valor.reserve(text_.size() - pos_);
        for (;;) {
            if (pos_ >= text_.size())
                throw ErrorConexion(textos::cadenaComillasSinCerrar());
            char c = text_[pos_++];
            if (c == comilla) {
                if (pos_ < text_.size() && text_[pos_] == comilla) {
                    valor += comilla;
                    ++pos_;
                    continue;
                }
                break;
            }
            valor += c;
        }
        while (pos_ < text_.size() && esBlanco(text_[pos_]))
            ++pos_;
        if (pos_ < text_.size() && text_[pos_] != ';')
            throw ErrorConexion(textos::cadenaTextoTrasComillas());
        return valor;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

ConnectionString ConnectionString::parse(std::string_view text) {
    ConnectionString result;
    // Room for every pair at once: growing would move short values (a
    // password among them) inline and free the old room unwiped.
    std::size_t separadores = 1;
    for (char c : text)
        separadores += c == ';';
    result.pairs_.reserve(separadores);
    Lector lector(text);
    std::string clave, valor;
    while (lector.siguiente(clave, valor)) {
        result.pairs_.emplace_back(clave, valor);
        borraSecreto(valor);
    }
    return result;
}

ConnectionString::~ConnectionString() {
    for (auto& par : pairs_)
        borraSecreto(par.second);
}

std::optional<std::string> ConnectionString::value(std::string_view key) const {
    const std::string_view buscada = recorta(key);
    for (auto it = pairs_.rbegin(); it != pairs_.rend(); ++it)
        if (igualSinMayusculas(it->first, buscada))
            return it->second;
    return std::nullopt;
}

} // namespace data_access
