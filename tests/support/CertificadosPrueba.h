#pragma once

#include <string>

// Certificates made at test time with GnuTLS's certtool, for a server that answers at "localhost":
// a test CA and what it signs, plus the kinds a current driver refuses. Paths of PEM files.
namespace pruebas {

struct CertificadoYClave {
    std::string certificado;
    std::string clave;
};

struct CertificadosPrueba {
    std::string ca;                // the test CA, "CN=Tarpelino CA de prueba": trust it with --ca
    CertificadoYClave localhost;   // signed by the CA for DNS:localhost and IP:127.0.0.1
    CertificadoYClave otroNombre;  // signed by the CA for DNS:otro.ejemplo only
    CertificadoYClave caducado;    // signed by the CA for localhost, valid from 2020-01-01 to 2021-06-30
    CertificadoYClave autofirmado; // self-signed for localhost
    CertificadoYClave debil;       // signed by the CA for localhost with SHA-1, over a 1024-bit RSA key
};

inline constexpr const char* kFechaCaducado = "2021-06-30";

// Makes them in `carpeta` (which must exist), in well under a second: three keys, six certificates.
// Throws std::runtime_error naming the step that failed and certtool's output.
CertificadosPrueba haceCertificadosPrueba(const std::string& carpeta);

} // namespace pruebas
