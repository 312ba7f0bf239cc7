// The stand-in's certificates: the one SQL Server makes for itself today, and the one an old server
// carried, which GnuTLS 3.7 still signs with SHA-1.
#include "tests/stand_in/tls_session.h"

#include <gnutls/x509.h>
#include <gtest/gtest.h>

namespace {

struct Certificate {
    std::string subject;
    std::string issuer;
    unsigned bits = 0;
    int signature = 0;
};

Certificate read(const std::string& pem) {
    gnutls_x509_crt_t crt = nullptr;
    EXPECT_EQ(gnutls_x509_crt_init(&crt), 0);
    const gnutls_datum_t data{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                              static_cast<unsigned>(pem.size())};
    Certificate c;
    EXPECT_EQ(gnutls_x509_crt_import(crt, &data, GNUTLS_X509_FMT_PEM), 0);
    gnutls_datum_t dn{};
    if (gnutls_x509_crt_get_dn2(crt, &dn) == 0) {
        c.subject.assign(reinterpret_cast<const char*>(dn.data), dn.size);
        gnutls_free(dn.data);
    }
    if (gnutls_x509_crt_get_issuer_dn2(crt, &dn) == 0) {
        c.issuer.assign(reinterpret_cast<const char*>(dn.data), dn.size);
        gnutls_free(dn.data);
    }
    EXPECT_EQ(gnutls_x509_crt_get_pk_algorithm(crt, &c.bits), GNUTLS_PK_RSA);
    c.signature = gnutls_x509_crt_get_signature_algorithm(crt);
    gnutls_x509_crt_deinit(crt);
    return c;
}

} // namespace

TEST(TlsCertificate, TheLegacyOneIs1024BitRsaSignedWithSha1AndTheCurrentOne2048WithSha256) {
    const Certificate legacy = read(stand_in::TlsCredentials::legacySelfSigned()->certificatePem());
    EXPECT_EQ(legacy.subject, "CN=SSL_Self_Signed_Fallback");
    EXPECT_EQ(legacy.issuer, legacy.subject);
    EXPECT_EQ(legacy.bits, 1024u);
    EXPECT_EQ(legacy.signature, GNUTLS_SIGN_RSA_SHA1);

    const Certificate current = read(stand_in::TlsCredentials::selfSigned()->certificatePem());
    EXPECT_EQ(current.issuer, current.subject);
    EXPECT_EQ(current.bits, 2048u);
    EXPECT_EQ(current.signature, GNUTLS_SIGN_RSA_SHA256);
}
