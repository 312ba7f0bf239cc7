#include "login_process/CertificadoServidor.h"

#include <gnutls/x509.h>

namespace login_process {

std::string nombreDistinguido(int (*lee)(gnutls_x509_crt_t, gnutls_datum_t*), gnutls_x509_crt_t crt) {
    gnutls_datum_t d{};
    if (lee(crt, &d) < 0)
        return {};
    std::string texto(reinterpret_cast<const char*>(d.data), d.size);
    gnutls_free(d.data);
    return texto;
}

std::optional<CertificadoServidor> leeCertificado(const std::string& der) {
    if (der.empty())
        return std::nullopt;
    gnutls_x509_crt_t crt = nullptr;
    if (gnutls_x509_crt_init(&crt) < 0)
        return std::nullopt;
    const gnutls_datum_t datos{reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                               unsigned(der.size())};
    std::optional<CertificadoServidor> c;
    if (gnutls_x509_crt_import(crt, &datos, GNUTLS_X509_FMT_DER) == 0) {
        c.emplace();
        c->sujeto = nombreDistinguido(gnutls_x509_crt_get_dn2, crt);
        c->emisor = nombreDistinguido(gnutls_x509_crt_get_issuer_dn2, crt);
        const time_t caduca = gnutls_x509_crt_get_expiration_time(crt);
        c->caduca = caduca == time_t(-1) ? 0 : std::int64_t(caduca);
        unsigned bits = 0;
        const int algoritmo = gnutls_x509_crt_get_pk_algorithm(crt, &bits);
        if (algoritmo > 0) {
            const char* n = gnutls_pk_algorithm_get_name(gnutls_pk_algorithm_t(algoritmo));
            c->clave = n ? n : "";
            c->bits = bits;
        }
    }
    gnutls_x509_crt_deinit(crt);
    return c;
}

} // namespace login_process
