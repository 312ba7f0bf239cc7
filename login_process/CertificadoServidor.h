#pragma once

#include <cstdint>
#include <gnutls/x509.h>
#include <optional>
#include <string>

namespace login_process {

// What a DBA checks first of a server's certificate, decoded by GnuTLS.
struct CertificadoServidor {
    std::string sujeto; // RFC 4514, as GnuTLS writes it: "CN=SSL_Self_Signed_Fallback"
    std::string emisor;
    std::int64_t caduca = 0; // seconds since 1970, UTC
    std::string clave;       // "RSA"
    unsigned bits = 0;
};

// A distinguished name as `lee` (gnutls_x509_crt_get_dn2, ..._issuer_dn2) writes it; empty when it cannot.
std::string nombreDistinguido(int (*lee)(gnutls_x509_crt_t, gnutls_datum_t*), gnutls_x509_crt_t crt);

// Nothing when the bytes are not an X.509 certificate GnuTLS can read.
std::optional<CertificadoServidor> leeCertificado(const std::string& der);

} // namespace login_process
