#include "login_shared/Proveedor.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <nlohmann/json.hpp>

namespace lote {

namespace {

using Json = nlohmann::ordered_json;

Json textoONulo(const std::string& valor) {
    return valor.empty() ? Json(nullptr) : Json(valor);
}

template <typename T> Json opcional(const std::optional<T>& valor) {
    return valor ? Json(*valor) : Json(nullptr);
}

Json objetoDe(const FilaServidor& fila) {
    Json objeto = {{"servidor", fila.entrada.servidor}};
    if (fila.tls) {
        objeto["tls_aceptadas"] = fila.tls->aceptadas;
        objeto["tls_motivo"] = textoONulo(fila.tls->motivo);
    }
    for (std::size_t i = 0; i < fila.pasadas.size(); ++i) {
        const CamposPasada c = campos(fila.pasadas[i]);
        Json certificado(nullptr);
        if (c.certificado)
            certificado = {{"sujeto", c.certificado->sujeto},
                           {"emisor", c.certificado->emisor},
                           {"autofirmado", c.certificado->autofirmado},
                           {"caduca", textoONulo(c.certificado->caduca)},
                           {"bits", c.certificado->bits}};
        objeto[generacionDe(fila, i).version] = {
            {"veredicto", c.veredicto},
            {"correcta", c.correcta},
            {"causa", textoONulo(c.causa)},
            {"error_servidor", opcional(c.errorServidor)},
            {"tds", textoONulo(c.tds)},
            {"tls", textoONulo(c.tls)},
            {"cifrado", textoONulo(c.cifrado)},
            {"suite", textoONulo(c.suite)},
            {"version_servidor", textoONulo(c.versionServidor)},
            {"direccion", textoONulo(c.direccion)},
            {"puerto", opcional(c.puerto)},
            {"tiempo_ms", opcional(c.tiempoMs)},
            {"certificado", certificado},
            {"descripcion", textoONulo(c.descripcion)},
        };
    }
    return objeto;
}

// Bytes that are not UTF-8 (none should reach here) become U+FFFD rather than ending the run.
std::string texto(const Json& json, int sangria) {
    return json.dump(sangria, ' ', false, Json::error_handler_t::replace);
}

// One array, written an element at a time: "[" first, "]" whenever the run ends.
class EscritorJson final : public Escritor {
public:
    explicit EscritorJson(std::ostream& salida) : salida_(salida) {}

    void empieza() override { salida_ << '[' << std::flush; }

    void fila(const FilaServidor& fila) override {
        std::string objeto = texto(objetoDe(fila), 2);
        // Indented one level more, as an element of the array.
        std::string sangrado = "  ";
        for (char c : objeto) {
            sangrado += c;
            if (c == '\n')
                sangrado += "  ";
        }
        salida_ << (primera_ ? "\n" : ",\n") << sangrado << std::flush;
        primera_ = false;
    }

    void termina() override { salida_ << (primera_ ? "]\n" : "\n]\n") << std::flush; }

private:
    std::ostream& salida_;
    bool primera_ = true;
};

class EscritorJsonLineas final : public Escritor {
public:
    explicit EscritorJsonLineas(std::ostream& salida) : salida_(salida) {}

    void fila(const FilaServidor& fila) override {
        salida_ << texto(objetoDe(fila), -1) << '\n' << std::flush;
    }

private:
    std::ostream& salida_;
};

} // namespace

std::unique_ptr<Escritor> nuevoEscritorJson(std::ostream& salida) {
    return std::make_unique<EscritorJson>(salida);
}

std::unique_ptr<Escritor> nuevoEscritorJsonLineas(std::ostream& salida) {
    return std::make_unique<EscritorJsonLineas>(salida);
}

void escribeJson(std::ostream& salida, const std::vector<FilaServidor>& filas) {
    EscritorJson e(salida);
    e.empieza();
    for (const FilaServidor& f : filas)
        e.fila(f);
    e.termina();
}

} // namespace lote
