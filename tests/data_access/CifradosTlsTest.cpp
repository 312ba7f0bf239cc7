// Each generation offers its era's cipher suites, over FreeTDS's own TLS:
// old servers that take only 3DES or only RC4 let both in, a server that
// takes only modern suites turns the 2005 client away and says why, and an
// encrypted login names its suite and the server's certificate.
#include "data_access/Conexion.h"
#include "data_access/LoginHijo.h"
#include "data_access/Textos.h"
#include "login_process/CertificadoServidor.h"
#include "login_process/HandshakeServidor.h"
#include "login_process/SuitesDisponibles.h"
#include "login_process/Textos.h"
#include "login_shared/Peticion.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"
#include "login_shared/SuitesTls.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace data_access;
using namespace login_shared;
using namespace login_process;
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
    void arranca(TlsCipherSuites suites, TlsVersion minimo, TlsVersion maximo, bool antiguo) {
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
        const auto saludos = servidor->tlsHandshakes();
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

std::string registro(unsigned char tipo, const std::string& fragmento) {
    return std::string{char(tipo), '\x03', '\x01', char(fragmento.size() >> 8),
                       char(fragmento.size() & 0xFF)} +
           fragmento;
}

std::string mensajeTls(unsigned char tipo, const std::string& cuerpo) {
    return std::string{char(tipo), char(cuerpo.size() >> 16), char((cuerpo.size() >> 8) & 0xFF),
                       char(cuerpo.size() & 0xFF)} +
           cuerpo;
}

std::string longitud3(std::size_t n) {
    return {char(n >> 16), char((n >> 8) & 0xFF), char(n & 0xFF)};
}

std::string serverHello(std::uint16_t suite, std::size_t sesion = 32) {
    return mensajeTls(2, "\x03\x01" + std::string(32, 'r') + char(sesion) + std::string(sesion, 's') +
                             char(suite >> 8) + char(suite & 0xFF) + std::string(1, '\0'));
}

std::string certificate(const std::string& der) {
    return mensajeTls(11, longitud3(der.size() + 3) + longitud3(der.size()) + der);
}

} // namespace

TEST_F(CifradosTls, TheClientHelloOffersEachGenerationsOwnSuitesAndVersions) {
    arranca(TlsCipherSuites::Modern, TlsVersion::Tls1_0, TlsVersion::Tls1_2, false);
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
        arranca(suites, TlsVersion::Tls1_0, TlsVersion::Tls1_0, true);
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
    arranca(TlsCipherSuites::EcdheAesGcm, TlsVersion::Tls1_0, TlsVersion::Tls1_2, false);
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
}

// Should the generation's priority not reach GnuTLS (here: FreeTDS's own string
// goes in its place), a server that agrees TLS 1.2 is not a success for the
// 2005 client, which never offered it.
TEST_F(CifradosTls, ALoginOverTlsItsErasClientDidNotOfferIsNoSuccess) {
    arranca(TlsCipherSuites::Modern, TlsVersion::Tls1_2, TlsVersion::Tls1_2, false);
    const Proveedor& generacion = buscaProveedor("SQLNCLI");
    PeticionLogin p = peticionDeGeneracion(generacion);
    p.host = "127.0.0.1";
    p.puerto = servidor->port();
    p.credenciales.usuario = "sa";
    p.credenciales.password = "Secr3t!";
    p.limite = std::chrono::seconds(10);

    p.prioridadTls = "NORMAL:%COMPAT:-VERS-SSL3.0";
    try {
        LoginHijo::inicia(p, Plazo(p.limite));
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
    EXPECT_THROW(LoginHijo::inicia(p, Plazo(p.limite)), ErrorConexion);
    EXPECT_EQ(servidor->tlsHandshakes().back().negotiated, 0);
}

TEST(SuitesDisponibles, TheSuitesAPriorityLeavesOutAreTheOnesNamed) {
    const std::vector<std::uint16_t> suites2005 = suitesTls(buscaProveedor("SQLNCLI"));
    EXPECT_TRUE(suitesAusentes(prioridadTls(buscaProveedor("SQLNCLI")), suites2005).empty());
    EXPECT_TRUE(
        suitesAusentes(prioridadTls(buscaProveedor("SQLNCLI10")), suitesTls(buscaProveedor("SQLNCLI10")))
            .empty());
    // A GnuTLS without RC4 is one whose priority string holds none.
    EXPECT_EQ(suitesAusentes("NONE:+VERS-TLS1.0:+RSA:+AES-128-CBC:+AES-256-CBC:+3DES-CBC:+SHA1:+COMP-NULL",
                             suites2005),
              (std::vector<std::uint16_t>{kRc4Sha, kRc4Md5}));
    // A string GnuTLS refuses offers nothing.
    EXPECT_EQ(suitesAusentes("NONE:+NO-SUCH-CIPHER", suites2005), suites2005);
}

TEST(SuitesDisponibles, ATlsFailureNamesTheSuitesThisGnuTlsCouldNotOffer) {
    const std::string d =
        login_process::textos::tlsRechazado("127.0.0.1:1433", "SQL Server 2005", VersionTls::Tls1_0,
                                            VersionTls::Tls1_0, {0x002F, kRc4Md5}, {kRc4Md5}, 40);
    contiene(d, "ofrece solo TLS 1.0 con TLS_RSA_WITH_AES_128_CBC_SHA, TLS_RSA_WITH_RC4_128_MD5;");
    contiene(d,
             " GnuTLS en este equipo no puede ofrecer TLS_RSA_WITH_RC4_128_MD5, que el cliente de SQL Server "
             "2005 ofrecía");
    // The version text keeps its words, and owns up to the same.
    const std::string v = login_process::textos::tlsRechazado("s", "SQL Server 2005", VersionTls::Tls1_0,
                                                              VersionTls::Tls1_0, {kRc4Md5}, {kRc4Md5}, 70);
    contiene(
        v,
        "el cliente de SQL Server 2005 ofrece solo TLS 1.0; el servidor exige una más reciente (alerta TLS "
        "70, protocol_version). GnuTLS en este equipo no puede ofrecer TLS_RSA_WITH_RC4_128_MD5");
}

TEST(HandshakeServidor, TheSuiteAndFirstCertificateAreReadAcrossRecordsAndNeverPastTheEnd) {
    const std::string der = "0123456789-primero";
    const std::string mensajes = serverHello(0x000A) + certificate(der) + mensajeTls(14, "");
    // One record, then the messages cut across records of 7 bytes.
    std::string troceado;
    for (std::size_t i = 0; i < mensajes.size(); i += 7)
        troceado += registro(0x16, mensajes.substr(i, 7));
    for (const std::string& registros : {registro(0x16, mensajes), troceado}) {
        const HandshakeServidor h = leeHandshakeServidor(registros);
        EXPECT_EQ(h.suite, 0x000A);
        EXPECT_EQ(h.certificado, der);
        // Cut anywhere: what is whole is read, nothing else, and nothing past the end.
        for (std::size_t corte = 0; corte < registros.size(); ++corte) {
            const std::string parte = registros.substr(0, corte);
            const HandshakeServidor p = leeHandshakeServidor(std::string_view(parte.data(), parte.size()));
            EXPECT_TRUE(p.suite == 0 || p.suite == 0x000A);
            EXPECT_TRUE(p.certificado.empty() || p.certificado == der);
        }
    }
    // A certificate longer than its list, an empty session id, and a ChangeCipherSpec ending the clear part.
    const std::string malo = mensajeTls(11, longitud3(5) + longitud3(200) + "abc");
    const HandshakeServidor h =
        leeHandshakeServidor(registro(0x16, serverHello(0xC02F, 0) + malo) + registro(0x14, "\x01") +
                             registro(0x16, certificate(der)));
    EXPECT_EQ(h.suite, 0xC02F);
    EXPECT_TRUE(h.certificado.empty());
    EXPECT_TRUE(leeHandshakeServidor("").certificado.empty());
    EXPECT_FALSE(leeCertificado("no es DER"));
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
