// Texts both processes say: db-lib's numbers, the product a server's version
// belongs to, and the summary of an encrypted login as it comes back through
// the channel.
#include "login_shared/Textos.h"
#include "login_shared/Resumen.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

using namespace login_shared;

TEST(TextosDeError, DbLibNumbersAreSpanish) {
    EXPECT_EQ(textos::errorDbLib(20042),
              "un valor es demasiado largo para el registro de inicio de sesión (máximo 128 bytes).");
}

TEST(VersionServidor, TheSummaryNamesTheProductAVersionBelongsTo) {
    const std::pair<const char*, const char*> casos[] = {
        {"16.0.4135", "SQL Server 2022 (16.0.4135)"},
        {"15.0.2000", "SQL Server 2019 (15.0.2000)"},
        {"14.0.1000", "SQL Server 2017 (14.0.1000)"},
        {"13.0.1601", "SQL Server 2016 (13.0.1601)"},
        {"12.0.2000", "SQL Server 2014 (12.0.2000)"},
        {"11.0.2100", "SQL Server 2012 (11.0.2100)"},
        {"10.50.1600", "SQL Server 2008 R2 (10.50.1600)"},
        {"10.0.1600", "SQL Server 2008 (10.0.1600)"},
        {"9.0.1399", "SQL Server 2005 (9.0.1399)"},
        {"17.0.100", "17.0.100"},
        {"8.0.194", "8.0.194"},
    };
    for (const auto& [version, nombre] : casos)
        EXPECT_EQ(textos::versionServidor(version), nombre);
}

TEST(ResumenTls, TheTooltipNamesTheSuiteAndTheCertificateAsSent) {
    ResumenLogin r;
    r.versionTds = "7.3";
    r.servidor = "SRV";
    r.direccion = "10.0.0.5";
    r.puerto = 1433;
    r.loginCifrado = r.sesionCifrada = true;
    r.versionTls = 0x0303;
    r.suiteTls = 0x0035;
    r.certificadoSujeto = "CN=sql.ejemplo.es\u202E";
    r.certificadoEmisor = "CN=CA Ejemplo,O=Ejemplo";
    r.certificadoCaduca = 1767139200; // 2025-12-31 00:00 UTC
    r.certificadoClave = "RSA";
    r.certificadoBits = 4096;
    // Through the channel and back, as the login process sends it.
    const ResumenLogin leido = deserializaResumen(serializa(r));
    const std::string t = textos::resumenApertura(leido, std::chrono::milliseconds(20));
    contiene(t, "\nCifrado: toda la sesión (TLS 1.2)\nSuite: TLS_RSA_WITH_AES_256_CBC_SHA\nCertificado: "
                "CN=sql.ejemplo.es");
    contiene(t, "\nEmisor: CN=CA Ejemplo,O=Ejemplo\nCaduca: 2025-12-31\nClave: RSA de 4096 bits\nTiempo: ");
    // A bidi override from the server cannot reorder the line.
    EXPECT_EQ(t.find("\u202E"), std::string::npos) << t;
    EXPECT_EQ(t.find("generado por SQL Server"), std::string::npos) << t;

    // In clear, there is neither.
    r.loginCifrado = r.sesionCifrada = false;
    const std::string claro = textos::resumenApertura(r, std::chrono::milliseconds(20));
    EXPECT_EQ(claro.find("Suite:"), std::string::npos) << claro;
    EXPECT_EQ(claro.find("Certificado:"), std::string::npos) << claro;
}
