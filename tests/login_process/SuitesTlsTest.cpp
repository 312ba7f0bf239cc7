// The TLS suites on both sides of a login: those a generation's priority
// leaves out on this GnuTLS, named when a handshake fails, and the suite and
// certificate the server answered with, read off its handshake.
#include "login_shared/SuitesTls.h"
#include "login_process/CertificadoServidor.h"
#include "login_process/HandshakeServidor.h"
#include "login_process/SuitesDisponibles.h"
#include "login_process/Textos.h"
#include "login_shared/Proveedor.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

using namespace login_shared;
using namespace login_process;

namespace {

constexpr std::uint16_t kRc4Sha = 0x0005, kRc4Md5 = 0x0004;

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

std::string certificate(const std::vector<std::string>& cadena) {
    std::string lista;
    for (const std::string& der : cadena)
        lista += longitud3(der.size()) + der;
    return mensajeTls(11, longitud3(lista.size()) + lista);
}

} // namespace

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

TEST(HandshakeServidor, TheSuiteAndCertificatesAreReadAcrossRecordsAndNeverPastTheEnd) {
    const struct {
        const char* caso;
        std::vector<std::string> cadena;
    } casos[] = {
        {"its own certificate alone", {"0123456789-primero"}},
        {"its own, then the CA that signed it", {"0123456789-primero", "ca-intermedia"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.caso);
        const std::string mensajes = serverHello(0x000A) + certificate(c.cadena) + mensajeTls(14, "");
        // One record, then the messages cut across records of 7 bytes.
        std::string troceado;
        for (std::size_t i = 0; i < mensajes.size(); i += 7)
            troceado += registro(0x16, mensajes.substr(i, 7));
        for (const std::string& registros : {registro(0x16, mensajes), troceado}) {
            const HandshakeServidor h = leeHandshakeServidor(registros);
            EXPECT_EQ(h.suite, 0x000A);
            EXPECT_EQ(h.cadena, c.cadena);
            EXPECT_EQ(h.certificado, c.cadena.front());
            // Cut anywhere: what is whole is read, nothing else, and nothing past the end.
            for (std::size_t corte = 0; corte < registros.size(); ++corte) {
                const std::string parte = registros.substr(0, corte);
                const HandshakeServidor p =
                    leeHandshakeServidor(std::string_view(parte.data(), parte.size()));
                EXPECT_TRUE(p.suite == 0 || p.suite == 0x000A);
                EXPECT_TRUE(p.cadena.empty() || p.cadena == c.cadena);
                EXPECT_TRUE(p.certificado.empty() || p.certificado == c.cadena.front());
            }
        }
    }
    const std::string der = "0123456789-primero";
    // A certificate longer than its list, an empty session id, and a ChangeCipherSpec ending the clear part.
    const std::string malo = mensajeTls(11, longitud3(5) + longitud3(200) + "abc");
    const HandshakeServidor h =
        leeHandshakeServidor(registro(0x16, serverHello(0xC02F, 0) + malo) + registro(0x14, "\x01") +
                             registro(0x16, certificate({der})));
    EXPECT_EQ(h.suite, 0xC02F);
    EXPECT_TRUE(h.certificado.empty());
    EXPECT_TRUE(leeHandshakeServidor("").certificado.empty());
    EXPECT_FALSE(leeCertificado("no es DER"));
}
