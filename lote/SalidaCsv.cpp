#include "login_shared/Proveedor.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <string>

namespace lote {

namespace {

std::string campoCsv(const std::string& valor) {
    std::string r = valor;
    // A spreadsheet takes a cell starting with one of these for a formula.
    if (!r.empty() && std::string_view("=+-@\t\r").find(r.front()) != std::string_view::npos)
        r.insert(0, "'");
    if (r.find_first_of(",\"\r\n") == std::string::npos)
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
    EscritorCsv(std::ostream& salida, const Generaciones& generaciones, bool versionesTls)
        : salida_(salida), generaciones_(generaciones), versionesTls_(versionesTls) {}

    void empieza() override {
        salida_ << "servidor";
        if (versionesTls_)
            salida_ << ",tls_aceptadas,tls_motivo";
        for (const login_shared::Proveedor* g : generaciones_)
            for (const char* campo :
                 {"veredicto", "correcta", "causa", "error_servidor", "tds", "tls", "cifrado", "suite",
                  "version_servidor", "direccion", "puerto", "tiempo_ms", "certificado_sujeto",
                  "certificado_emisor", "certificado_autofirmado", "certificado_caduca", "certificado_bits",
                  "descripcion"})
                salida_ << ',' << campo << '_' << g->version;
        salida_ << "\r\n" << std::flush;
    }

    void fila(const FilaServidor& fila) override {
        salida_ << campoCsv(fila.entrada.servidor);
        if (versionesTls_) {
            const login_shared::VersionesTls tls = fila.tls.value_or(login_shared::VersionesTls{});
            salida_ << ',' << campoCsv(listaTls(tls)) << ',' << campoCsv(tls.motivo);
        }
        for (const probe::ResultadoPasada& pasada : fila.pasadas) {
            const CamposPasada c = campos(pasada);
            const CamposCertificado cert = c.certificado.value_or(CamposCertificado{});
            salida_ << ',' << campoCsv(c.veredicto) << ',' << booleano(c.correcta) << ',' << campoCsv(c.causa)
                    << ',' << opcional(c.errorServidor) << ',' << campoCsv(c.tds) << ',' << campoCsv(c.tls)
                    << ',' << campoCsv(c.cifrado) << ',' << campoCsv(c.suite) << ','
                    << campoCsv(c.versionServidor) << ',' << campoCsv(c.direccion) << ','
                    << opcional(c.puerto) << ',' << opcional(c.tiempoMs) << ',' << campoCsv(cert.sujeto)
                    << ',' << campoCsv(cert.emisor) << ','
                    << (c.certificado ? booleano(cert.autofirmado) : "") << ',' << campoCsv(cert.caduca)
                    << ',' << (c.certificado ? std::to_string(cert.bits) : std::string()) << ','
                    << campoCsv(c.descripcion);
        }
        salida_ << "\r\n" << std::flush;
    }

private:
    std::ostream& salida_;
    const Generaciones& generaciones_;
    bool versionesTls_;
};

} // namespace

std::unique_ptr<Escritor> nuevoEscritorCsv(std::ostream& salida, const Generaciones& generaciones,
                                           bool versionesTls) {
    return std::make_unique<EscritorCsv>(salida, generaciones, versionesTls);
}

void escribeCsv(std::ostream& salida, const std::vector<FilaServidor>& filas,
                const Generaciones& generaciones) {
    EscritorCsv e(salida, generaciones, false);
    e.empieza();
    for (const FilaServidor& f : filas)
        e.fila(f);
    e.termina();
}

} // namespace lote
