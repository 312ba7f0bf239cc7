#include "login_shared/Proveedor.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <string>

namespace lote {

namespace {

// RFC 4180's comma, or the semicolon a Spanish Excel splits fields at (its decimal mark is the comma).
struct Separador {
    char caracter;
    const char* citar; // what makes a field quoted
};
constexpr Separador kComa{',', ",\"\r\n"};
constexpr Separador kPuntoYComa{';', ";\"\r\n"};

std::string campoCsv(const std::string& valor, const Separador& separador) {
    std::string r = valor;
    // A spreadsheet takes a cell starting with one of these for a formula.
    if (!r.empty() && std::string_view("=+-@\t\r").find(r.front()) != std::string_view::npos)
        r.insert(0, "'");
    if (r.find_first_of(separador.citar) == std::string::npos)
        return r;
    std::string citado = "\"";
    for (char c : r) {
        if (c == '"')
            citado += '"';
        citado += c;
    }
    return citado + '"';
}

template <typename T> std::string opcional(const std::optional<T>& valor) {
    return valor ? std::to_string(*valor) : std::string();
}

std::string booleano(bool valor) {
    return valor ? "true" : "false";
}

class EscritorCsv final : public Escritor {
public:
    EscritorCsv(std::ostream& salida, const Generaciones& generaciones, bool versionesTls, bool excel)
        : salida_(salida), generaciones_(generaciones), versionesTls_(versionesTls),
          separador_(excel ? kPuntoYComa : kComa), sep_(separador_.caracter), excel_(excel) {}

    void empieza() override {
        // Without it, Excel reads UTF-8 as the system's code page ("ConexiÃ³n").
        if (excel_)
            salida_ << "\xEF\xBB\xBF";
        salida_ << "servidor";
        if (versionesTls_)
            salida_ << sep_ << "tls_aceptadas" << sep_ << "tls_motivo";
        for (const login_shared::Proveedor* g : generaciones_)
            for (const char* campo :
                 {"veredicto", "correcta", "causa", "error_servidor", "tds", "tls", "cifrado", "suite",
                  "version_servidor", "direccion", "puerto", "tiempo_ms", "certificado_sujeto",
                  "certificado_emisor", "certificado_autofirmado", "certificado_caduca", "certificado_bits",
                  "descripcion"})
                salida_ << sep_ << campo << '_' << g->version;
        salida_ << "\r\n" << std::flush;
    }

    void fila(const FilaServidor& fila) override {
        salida_ << campo(fila.entrada.servidor);
        if (versionesTls_) {
            const login_shared::VersionesTls tls = fila.tls.value_or(login_shared::VersionesTls{});
            salida_ << sep_ << campo(listaTls(tls)) << sep_ << campo(tls.motivo);
        }
        for (const probe::ResultadoPasada& pasada : fila.pasadas) {
            const CamposPasada c = campos(pasada);
            const CamposCertificado cert = c.certificado.value_or(CamposCertificado{});
            salida_ << sep_ << campo(c.veredicto) << sep_ << booleano(c.correcta) << sep_ << campo(c.causa)
                    << sep_ << opcional(c.errorServidor) << sep_ << campo(c.tds) << sep_ << campo(c.tls)
                    << sep_ << campo(c.cifrado) << sep_ << campo(c.suite) << sep_ << campo(c.versionServidor)
                    << sep_ << campo(c.direccion) << sep_ << opcional(c.puerto) << sep_
                    << opcional(c.tiempoMs) << sep_ << campo(cert.sujeto) << sep_ << campo(cert.emisor)
                    << sep_ << (c.certificado ? booleano(cert.autofirmado) : "") << sep_ << campo(cert.caduca)
                    << sep_ << (c.certificado ? std::to_string(cert.bits) : std::string()) << sep_
                    << campo(c.descripcion);
        }
        salida_ << "\r\n" << std::flush;
    }

private:
    std::string campo(const std::string& valor) const { return campoCsv(valor, separador_); }

    std::ostream& salida_;
    const Generaciones& generaciones_;
    bool versionesTls_;
    Separador separador_;
    char sep_;
    bool excel_;
};

} // namespace

std::unique_ptr<Escritor> nuevoEscritorCsv(std::ostream& salida, const Generaciones& generaciones,
                                           bool versionesTls, bool excel) {
    return std::make_unique<EscritorCsv>(salida, generaciones, versionesTls, excel);
}

void escribeCsv(std::ostream& salida, const std::vector<FilaServidor>& filas,
                const Generaciones& generaciones) {
    EscritorCsv e(salida, generaciones, false, false);
    e.empieza();
    for (const FilaServidor& f : filas)
        e.fila(f);
    e.termina();
}

} // namespace lote
