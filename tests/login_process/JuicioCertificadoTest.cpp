// The server's certificate judged as a current driver (ODBC Driver 18, SqlClient 4 and later) judges
// it, over certificates certtool makes for this run and the one the stand-in makes for itself.
#include "login_process/JuicioCertificado.h"
#include "tests/stand_in/tls_session.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/CertificadosPrueba.h"

#include <gnutls/gnutls.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using login_process::juzgaCertificado;
using login_shared::Causa;

namespace {

std::string der(const std::string& pem) {
    const gnutls_datum_t datos{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                               unsigned(pem.size())};
    gnutls_datum_t binario{};
    EXPECT_EQ(gnutls_pem_base64_decode2("CERTIFICATE", &datos, &binario), 0);
    std::string d(reinterpret_cast<const char*>(binario.data), binario.size);
    gnutls_free(binario.data);
    return d;
}

std::string derDe(const std::string& ruta) {
    std::ifstream f(ruta);
    std::stringstream pem;
    pem << f.rdbuf();
    return der(pem.str());
}

class JuicioCertificado : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* base = std::getenv("TMPDIR");
        carpeta_ = std::string(base && *base ? base : "/tmp") + "/tarpelino-certificados-XXXXXX";
        ASSERT_TRUE(::mkdtemp(carpeta_.data()));
        certificados_ = pruebas::haceCertificadosPrueba(carpeta_);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(carpeta_); }

    static inline std::string carpeta_;
    static inline pruebas::CertificadosPrueba certificados_;
};

TEST_F(JuicioCertificado, EachKindGetsTheCauseAndSaysWhatIsWrong) {
    const pruebas::CertificadosPrueba& c = certificados_;
    const std::string propio = der(stand_in::TlsCredentials::selfSigned()->certificatePem());
    const struct {
        const char* caso;
        std::vector<std::string> cadena;
        std::string host;
        std::string archivoCa;
        std::optional<Causa> causa;
        std::vector<std::string> dice;
    } casos[] = {
        {"signed by a trusted CA for the name typed",
         {derDe(c.localhost.certificado)},
         "localhost",
         c.ca,
         {},
         {}},
        {"the same IP address as typed, among its IP addresses",
         {derDe(c.localhost.certificado)},
         "127.0.0.1",
         c.ca,
         {},
         {}},
        {"signed by a CA no one here trusts",
         {derDe(c.localhost.certificado)},
         "localhost",
         "",
         Causa::CertificadoNoConfiable,
         {"lo emitió «CN=Tarpelino CA de prueba», una CA que no está entre las de confianza",
          "añada esa CA a las CA de confianza de los clientes (con tarpelino-lote: --ca FICHERO)",
          "TrustServerCertificate=yes"}},
        {"self-signed",
         {derDe(c.autofirmado.certificado)},
         "localhost",
         c.ca,
         Causa::CertificadoNoConfiable,
         {"«CN=localhost», es autofirmado"}},
        {"the one SQL Server makes for itself",
         {propio},
         "localhost",
         c.ca,
         Causa::CertificadoNoConfiable,
         {"«CN=SSL_Self_Signed_Fallback», es autofirmado", "SQL Server crea al arrancar"}},
        {"another name only",
         {derDe(c.otroNombre.certificado)},
         "localhost",
         c.ca,
         Causa::CertificadoNombre,
         {"no lleva el nombre «localhost»", "solo lleva otro.ejemplo", "Conéctese con uno de los nombres"}},
        {"expired",
         {derDe(c.caducado.certificado)},
         "localhost",
         c.ca,
         Causa::CertificadoCaducado,
         {std::string("caducó el ") + pruebas::kFechaCaducado + " (UTC)"}},
        {"SHA-1 over a 1024-bit key",
         {derDe(c.debil.certificado)},
         "localhost",
         c.ca,
         Causa::CertificadoDebil,
         {"está firmado con SHA-1 y tiene una clave RSA de 1024 bits"}},
        {"nothing readable",
         {"no es DER"},
         "localhost",
         c.ca,
         Causa::CertificadoNoConfiable,
         {"No se pudo leer ningún certificado del servidor"}},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.caso);
        const login_process::JuicioCertificado j = juzgaCertificado(caso.cadena, caso.host, caso.archivoCa);
        EXPECT_EQ(j.causa, caso.causa) << j.motivo;
        EXPECT_EQ(j.motivo.empty(), caso.dice.empty()) << j.motivo;
        for (const std::string& parte : caso.dice)
            contiene(j.motivo, parte);
    }
}

} // namespace
