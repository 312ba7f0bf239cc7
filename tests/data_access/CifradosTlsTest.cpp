// Each generation offers its era's cipher suites, over FreeTDS's own TLS:
// old servers that take only 3DES or only RC4 let both in, a server that
// takes only modern suites turns the 2005 client away and says why, and an
// encrypted login names its suite and the server's certificate.
#include "data_access/Conexion.h"
#include "data_access/LoginHijo.h"
#include "data_access/Textos.h"
#include "login_shared/Peticion.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

using namespace data_access;
using namespace login_shared;
using stand_in::TlsCipherSuites;
using stand_in::TlsVersion;

namespace {

constexpr std::uint16_t k3Des = 0x000A, kRc4Sha = 0x0005, kRc4Md5 = 0x0004;

struct Pasada {
    Apertura apertura;
    std::string resumen;
    stand_in::TlsHandshakeRecord saludo;
};

class CifradosTls : public ::testing::Test {
protected:
    void lanza(TlsCipherSuites suites, TlsVersion minimo, TlsVersion maximo, bool antiguo) {
        stand_in::Config c = configConSa();
        c.encryption = stand_in::Encryption::LoginOnly;
        c.tlsCipherSuites = suites;
        c.tlsMinimum = minimo;
        c.tlsMaximum = maximo;
        c.legacyCertificate = antiguo;
        servidor = std::make_unique<stand_in::Server>(c);
        servidor->start();
    }

    Pasada abre(const std::string& proveedor) {
        servidor->clearLogins();
        const std::size_t antes = servidor->tlsHandshakes().size();
        ConexionFreeTds c;
        Pasada p;
        p.apertura = intentaAbrir(
            c, cadena(servidorEn(servidor->port()), kLoginSa + "Connect Timeout=10;", proveedor));
        p.resumen = c.resumenApertura();
        // The stand-in notes a handshake once it has answered it: a client it turned away can be done first.
        auto saludos = servidor->tlsHandshakes();
        for (int i = 0; i < 500 && saludos.size() <= antes; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            saludos = servidor->tlsHandshakes();
        }
        EXPECT_EQ(saludos.size(), antes + 1) << proveedor;
        if (saludos.size() > antes)
            p.saludo = saludos.back();
        return p;
    }

    std::unique_ptr<stand_in::Server> servidor;
};

// What a ClientHello offered, without the renegotiation signal (RFC 5746) that is no suite.
std::set<std::uint16_t> ofrecidas(const stand_in::TlsHandshakeRecord& r) {
    std::set<std::uint16_t> s(r.offeredSuites.begin(), r.offeredSuites.end());
    s.erase(0x00FF);
    return s;
}

} // namespace

TEST_F(CifradosTls, TheClientHelloOffersEachGenerationsOwnSuitesAndVersions) {
    lanza(TlsCipherSuites::Modern, TlsVersion::Tls1_0, TlsVersion::Tls1_2, false);
    const Pasada p2005 = abre("SQLNCLI");
    ASSERT_TRUE(p2005.apertura.abierta) << p2005.apertura.descripcion;
    EXPECT_EQ(p2005.saludo.clientHelloVersion, 0x0301);
    EXPECT_EQ(ofrecidas(p2005.saludo), (std::set<std::uint16_t>{0x002F, 0x0035, k3Des, kRc4Sha, kRc4Md5}));

    const Pasada p2008 = abre("SQLNCLI10");
    ASSERT_TRUE(p2008.apertura.abierta) << p2008.apertura.descripcion;
    EXPECT_EQ(p2008.saludo.clientHelloVersion, 0x0303);
    const auto s2008 = ofrecidas(p2008.saludo);
    // FreeTDS's NORMAL:%COMPAT alone offers none of these.
    for (std::uint16_t s : {k3Des, kRc4Sha, kRc4Md5, std::uint16_t(0x003C), std::uint16_t(0xC02F)})
        EXPECT_EQ(s2008.count(s), 1u) << std::hex << s;
}

TEST_F(CifradosTls, OldServersWithOnly3DesOrOnlyRc4LetBothGenerationsIn) {
    const std::pair<TlsCipherSuites, std::set<std::uint16_t>> servidores[] = {
        {TlsCipherSuites::TripleDes, {k3Des}}, {TlsCipherSuites::Rc4, {kRc4Sha, kRc4Md5}}};
    for (const auto& [suites, acordables] : servidores) {
        lanza(suites, TlsVersion::Tls1_0, TlsVersion::Tls1_0, true);
        for (const char* proveedor : {"SQLNCLI", "SQLNCLI10"}) {
            const Pasada p = abre(proveedor);
            ASSERT_TRUE(p.apertura.abierta) << proveedor << ": " << p.apertura.descripcion;
            EXPECT_EQ(p.saludo.negotiated, 0x0301);
            EXPECT_EQ(acordables.count(p.saludo.agreedSuite), 1u) << std::hex << p.saludo.agreedSuite;
            contiene(p.resumen, "\nSuite: " + nombreSuiteTls(p.saludo.agreedSuite) + "\n");
            contiene(p.resumen, "\nCertificado: CN=SSL_Self_Signed_Fallback (generado por SQL Server: no se "
                                "configuró ninguno)\nEmisor: autofirmado\nCaduca: 20");
            contiene(p.resumen, "\nClave: RSA de 1024 bits\n");
        }
    }
}

TEST_F(CifradosTls, AServerWithOnlyModernSuitesTurnsThe2005ClientAwayAndSaysWhy) {
    lanza(TlsCipherSuites::EcdheAesGcm, TlsVersion::Tls1_0, TlsVersion::Tls1_2, false);
    const Pasada p2005 = abre("SQLNCLI");
    EXPECT_FALSE(p2005.apertura.abierta);
    EXPECT_EQ(p2005.saludo.negotiated, 0);
    contiene(
        p2005.apertura.descripcion,
        "no acepta ningún conjunto de cifrado (cipher suite) que ofrezca este cliente: el cliente de SQL "
        "Server 2005 ofrece solo TLS 1.0 con TLS_RSA_WITH_AES_128_CBC_SHA, TLS_RSA_WITH_AES_256_CBC_SHA, "
        "TLS_RSA_WITH_RC4_128_SHA, TLS_RSA_WITH_3DES_EDE_CBC_SHA, TLS_RSA_WITH_RC4_128_MD5; el servidor "
        "exige otros (alerta TLS 40, handshake_failure).");
    // This machine's GnuTLS offers all of them: nothing to own up to.
    EXPECT_EQ(p2005.apertura.descripcion.find("GnuTLS"), std::string::npos) << p2005.apertura.descripcion;

    const Pasada p2008 = abre("SQLNCLI10");
    ASSERT_TRUE(p2008.apertura.abierta) << p2008.apertura.descripcion;
    EXPECT_EQ(p2008.saludo.negotiated, 0x0303);
    contiene(p2008.resumen, "\nSuite: TLS_ECDHE_RSA_WITH_AES_");
    contiene(p2008.resumen, "\nCertificado: CN=SSL_Self_Signed_Fallback (generado por SQL Server: no se "
                            "configuró ninguno)\nEmisor: autofirmado\n");
    contiene(p2008.resumen, "\nClave: RSA de 2048 bits\n");
    // What a DBA moving to a current driver needs to know of this server, in the command's words.
    contiene(p2008.resumen, "\nDriver actual (ODBC 18): no aceptaría este certificado. El certificado del "
                            "servidor, «CN=SSL_Self_Signed_Fallback», es autofirmado");
}

// Should the generation's priority not reach GnuTLS (here: FreeTDS's own string
// goes in its place), a server that agrees TLS 1.2 is not a success for the
// 2005 client, which never offered it.
TEST_F(CifradosTls, ALoginOverTlsItsErasClientDidNotOfferIsNoSuccess) {
    lanza(TlsCipherSuites::Modern, TlsVersion::Tls1_2, TlsVersion::Tls1_2, false);
    const Proveedor& generacion = buscaProveedor("SQLNCLI");
    PeticionLogin p = peticionDeGeneracion(generacion);
    p.host = "127.0.0.1";
    p.puerto = servidor->port();
    p.credenciales.usuario = "sa";
    p.credenciales.password = "Secr3t!";
    p.limite = std::chrono::seconds(10);

    p.prioridadTls = "NORMAL:%COMPAT:-VERS-SSL3.0";
    try {
        LoginHijo::lanza(p, Plazo(p.limite));
        ADD_FAILURE() << "a TLS 1.2 login was called a success for the 2005 client";
    } catch (const ErrorConexion& e) {
        EXPECT_NE(std::string(e.what()).find(", que el cliente de SQL Server 2005 no ofrecía: este equipo no "
                                             "pudo limitar TLS a lo que ofrecía ese cliente"),
                  std::string::npos)
            << e.what();
    }
    ASSERT_EQ(servidor->tlsHandshakes().size(), 1u);
    EXPECT_EQ(servidor->tlsHandshakes().back().negotiated, 0x0303);

    // The same request with the generation's own priority: turned away by the server, as its client was.
    p.prioridadTls = prioridadTls(generacion);
    EXPECT_THROW(LoginHijo::lanza(p, Plazo(p.limite)), ErrorConexion);
    // The stand-in records a handshake it turned down after its alert has gone, maybe after the login's end.
    ASSERT_TRUE(servidor->waitAllClosed(std::chrono::seconds(5)));
    ASSERT_EQ(servidor->tlsHandshakes().size(), 2u);
    EXPECT_EQ(servidor->tlsHandshakes().back().negotiated, 0);
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
    const std::string t = data_access::textos::resumenApertura(leido, std::chrono::milliseconds(20));
    contiene(t, "\nCifrado: toda la sesión (TLS 1.2)\nSuite: TLS_RSA_WITH_AES_256_CBC_SHA\nCertificado: "
                "CN=sql.ejemplo.es");
    contiene(t, "\nEmisor: CN=CA Ejemplo,O=Ejemplo\nCaduca: 2025-12-31\nClave: RSA de 4096 bits\nTiempo: ");
    // A bidi override from the server cannot reorder the line.
    EXPECT_EQ(t.find("\u202E"), std::string::npos) << t;
    EXPECT_EQ(t.find("generado por SQL Server"), std::string::npos) << t;

    // In clear, there is neither.
    r.loginCifrado = r.sesionCifrada = false;
    const std::string claro = data_access::textos::resumenApertura(r, std::chrono::milliseconds(20));
    EXPECT_EQ(claro.find("Suite:"), std::string::npos) << claro;
    EXPECT_EQ(claro.find("Certificado:"), std::string::npos) << claro;
}
