#include "login_process/JuicioCertificado.h"

#include "login_process/CertificadoServidor.h"
#include "login_process/HandshakeServidor.h"
#include "login_process/Textos.h"

#include <gnutls/x509.h>

#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>

namespace login_process {

using login_shared::Causa;

namespace {

// The chain as GnuTLS holds it, up to the first certificate it cannot read.
class Cadena {
public:
    explicit Cadena(const std::vector<std::string>& der) {
        for (const std::string& d : der) {
            if (crts_.size() == kMaximoCadena)
                break;
            gnutls_x509_crt_t crt = nullptr;
            if (gnutls_x509_crt_init(&crt) < 0)
                break;
            const gnutls_datum_t datos{reinterpret_cast<unsigned char*>(const_cast<char*>(d.data())),
                                       unsigned(d.size())};
            if (gnutls_x509_crt_import(crt, &datos, GNUTLS_X509_FMT_DER) < 0) {
                gnutls_x509_crt_deinit(crt);
                break;
            }
            crts_.push_back(crt);
        }
    }
    ~Cadena() {
        for (gnutls_x509_crt_t crt : crts_)
            gnutls_x509_crt_deinit(crt);
    }
    Cadena(const Cadena&) = delete;
    Cadena& operator=(const Cadena&) = delete;

    const std::vector<gnutls_x509_crt_t>& crts() const { return crts_; }

private:
    std::vector<gnutls_x509_crt_t> crts_;
};

// Reading the system's store (some 140 CAs) takes about 12 ms: once per process, and the login
// server reads it before it forks, so that no login pays for it. Never freed: it lasts the process.
gnutls_x509_trust_list_t listaDelSistema() {
    static const gnutls_x509_trust_list_t lista = [] {
        gnutls_x509_trust_list_t l = nullptr;
        if (gnutls_x509_trust_list_init(&l, 0) < 0)
            return gnutls_x509_trust_list_t(nullptr);
        // Without the system's store (an empty or missing /etc/ssl/certs) only --ca's CAs are trusted.
        gnutls_x509_trust_list_add_system_trust(l, 0, 0);
        return l;
    }();
    return lista;
}

// The CAs of a PEM file, read once per process; none when it holds no CA GnuTLS can read. Never
// freed either: the map is not destroyed at exit, so what it holds stays reachable to the end.
gnutls_x509_trust_list_t listaDeArchivo(const std::string& archivo) {
    static std::mutex mutex;
    static auto* const porArchivo = new std::map<std::string, gnutls_x509_trust_list_t>();
    std::map<std::string, gnutls_x509_trust_list_t>& listas = *porArchivo;
    std::lock_guard<std::mutex> cerrojo(mutex);
    if (const auto it = listas.find(archivo); it != listas.end())
        return it->second;
    gnutls_x509_trust_list_t l = nullptr;
    if (gnutls_x509_trust_list_init(&l, 0) == 0 &&
        gnutls_x509_trust_list_add_trust_file(l, archivo.c_str(), nullptr, GNUTLS_X509_FMT_PEM, 0, 0) <= 0) {
        gnutls_x509_trust_list_deinit(l, 1);
        l = nullptr;
    }
    return listas[archivo] = l;
}

// The chain alone: dates and algorithms are judged apart, each with its own cause.
unsigned verificaCadena(gnutls_x509_trust_list_t lista, const std::vector<gnutls_x509_crt_t>& crts) {
    unsigned estado = 0;
    const unsigned flags = GNUTLS_VERIFY_DISABLE_TIME_CHECKS | GNUTLS_VERIFY_DISABLE_TRUSTED_TIME_CHECKS |
                           GNUTLS_VERIFY_ALLOW_SIGN_WITH_SHA1 | GNUTLS_VERIFY_ALLOW_BROKEN;
    if (gnutls_x509_trust_list_verify_crt2(lista, const_cast<gnutls_x509_crt_t*>(crts.data()),
                                           unsigned(crts.size()), nullptr, 0, flags, &estado, nullptr) < 0)
        estado = GNUTLS_CERT_INVALID;
    return estado;
}

std::string sujeto(gnutls_x509_crt_t crt) {
    return nombreDistinguido(gnutls_x509_crt_get_dn2, crt);
}

std::string emisor(gnutls_x509_crt_t crt) {
    return nombreDistinguido(gnutls_x509_crt_get_issuer_dn2, crt);
}

bool autofirmado(gnutls_x509_crt_t crt) {
    return gnutls_x509_crt_check_issuer(crt, crt) != 0;
}

std::string fecha(std::time_t t) {
    std::tm utc{};
    char texto[16] = "";
    if (gmtime_r(&t, &utc))
        std::strftime(texto, sizeof texto, "%Y-%m-%d", &utc);
    return texto;
}

// The names a client matches: DNS and IP subjectAltNames, or the CN when there are none of those.
std::vector<std::string> nombres(gnutls_x509_crt_t crt) {
    std::vector<std::string> lista;
    for (unsigned i = 0;; ++i) {
        char dato[256];
        std::size_t longitud = sizeof dato;
        const int tipo = gnutls_x509_crt_get_subject_alt_name(crt, i, dato, &longitud, nullptr);
        if (tipo == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE)
            break;
        if (tipo == GNUTLS_SAN_DNSNAME) {
            lista.emplace_back(dato, longitud);
        } else if (tipo == GNUTLS_SAN_IPADDRESS && (longitud == 4 || longitud == 16)) {
            char ip[INET6_ADDRSTRLEN] = "";
            if (inet_ntop(longitud == 4 ? AF_INET : AF_INET6, dato, ip, sizeof ip))
                lista.emplace_back(ip);
        }
        // Other kinds, or one longer than any host name: not a name a client matches.
    }
    if (lista.empty()) {
        char cn[256];
        std::size_t longitud = sizeof cn;
        if (gnutls_x509_crt_get_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, 0, cn, &longitud) == 0)
            lista.emplace_back(cn, longitud);
    }
    return lista;
}

// Why a chain reaches no trusted CA, other than an unknown issuer.
std::string detalleCadena(unsigned estado) {
    if (estado & GNUTLS_CERT_SIGNATURE_FAILURE)
        return "una firma de la cadena no es válida";
    if (estado & GNUTLS_CERT_SIGNER_NOT_CA)
        return "quien firma un certificado de la cadena no es una CA";
    if (estado & GNUTLS_CERT_SIGNER_CONSTRAINTS_FAILURE)
        return "una CA de la cadena firma fuera de lo que se le permite";
    if (estado & GNUTLS_CERT_REVOKED)
        return "un certificado de la cadena está revocado";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", estado);
    return std::string("GnuTLS la rechaza (estado ") + hex + ")";
}

// What a current TLS library refuses in one certificate: its signature unless it signed itself
// (a trust anchor's self-signature is never checked), and an RSA key under 2048 bits.
std::vector<std::string> defectos(gnutls_x509_crt_t crt) {
    std::vector<std::string> lista;
    if (!autofirmado(crt)) {
        const int firma = gnutls_x509_crt_get_signature_algorithm(crt);
        const auto resumen =
            firma > 0 ? gnutls_sign_get_hash_algorithm(gnutls_sign_algorithm_t(firma)) : GNUTLS_DIG_UNKNOWN;
        if (resumen == GNUTLS_DIG_SHA1)
            lista.emplace_back("está firmado con SHA-1");
        else if (resumen == GNUTLS_DIG_MD5 || resumen == GNUTLS_DIG_MD2)
            lista.emplace_back(std::string("está firmado con ") + gnutls_digest_get_name(resumen));
    }
    unsigned bits = 0;
    const int clave = gnutls_x509_crt_get_pk_algorithm(crt, &bits);
    if ((clave == GNUTLS_PK_RSA || clave == GNUTLS_PK_RSA_PSS) && bits < 2048)
        lista.emplace_back("tiene una clave RSA de " + std::to_string(bits) + " bits");
    return lista;
}

} // namespace

void preparaConfianzaDelSistema() {
    listaDelSistema();
}

// One cause, the first that fails in this order: trust, then what is weak, then the dates, then the
// name. An untrusted chain is refused whatever else it has, and its fix (a certificate from a trusted
// CA) is a new certificate that mends the rest; a weak one must be reissued too, whatever its dates;
// an expired one must be renewed, and the name can be put right in the renewal. Only a chain with
// nothing else wrong is refused for its name alone, which the DBA can mend without touching the server.
JuicioCertificado juzgaCertificado(const std::vector<std::string>& cadenaDer, const std::string& host,
                                   const std::string& archivoCa) {
    const Cadena cadena(cadenaDer);
    if (cadena.crts().empty())
        return {Causa::CertificadoNoConfiable, textos::certificadoIlegible()};
    const gnutls_x509_crt_t propio = cadena.crts().front();

    const gnutls_x509_trust_list_t sistema = listaDelSistema();
    if (!sistema)
        return {Causa::Interno, textos::errorInterno("gnutls_x509_trust_list_init")};
    const gnutls_x509_trust_list_t delArchivo = archivoCa.empty() ? nullptr : listaDeArchivo(archivoCa);
    if (!archivoCa.empty() && !delArchivo)
        return {Causa::Valor, textos::archivoCaIlegible(archivoCa)};

    // Trusted when the system's CAs or those of the file vouch for it.
    unsigned estado = verificaCadena(sistema, cadena.crts());
    if (delArchivo && (estado & GNUTLS_CERT_INVALID)) {
        const unsigned conArchivo = verificaCadena(delArchivo, cadena.crts());
        if (!(conArchivo & GNUTLS_CERT_SIGNER_NOT_FOUND))
            estado = conArchivo;
    }
    const unsigned noConfiable = estado & ~unsigned(GNUTLS_CERT_INVALID | GNUTLS_CERT_INSECURE_ALGORITHM |
                                                    GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED);
    if ((estado & GNUTLS_CERT_INVALID) && (noConfiable || estado == GNUTLS_CERT_INVALID)) {
        if (autofirmado(propio))
            return {Causa::CertificadoNoConfiable, textos::certificadoAutofirmado(sujeto(propio))};
        // The issuer no trusted CA vouches for: that of the last certificate sent.
        const gnutls_x509_crt_t ultimo = cadena.crts().back();
        if ((noConfiable & GNUTLS_CERT_SIGNER_NOT_FOUND) || estado == GNUTLS_CERT_INVALID)
            return {Causa::CertificadoNoConfiable, textos::certificadoCaDesconocida(emisor(ultimo))};
        return {Causa::CertificadoNoConfiable,
                textos::certificadoCadenaNoValida(emisor(ultimo), detalleCadena(estado))};
    }

    for (const gnutls_x509_crt_t crt : cadena.crts()) {
        const std::vector<std::string> debil = defectos(crt);
        if (!debil.empty())
            return {Causa::CertificadoDebil,
                    textos::certificadoDebil(crt == propio ? "" : sujeto(crt), debil)};
    }

    const std::time_t ahora = std::time(nullptr);
    for (const gnutls_x509_crt_t crt : cadena.crts()) {
        const std::string quien = crt == propio ? "" : sujeto(crt);
        const std::time_t desde = gnutls_x509_crt_get_activation_time(crt);
        const std::time_t hasta = gnutls_x509_crt_get_expiration_time(crt);
        if (hasta != std::time_t(-1) && hasta < ahora)
            return {Causa::CertificadoCaducado, textos::certificadoCaducado(quien, fecha(hasta))};
        if (desde != std::time_t(-1) && desde > ahora)
            return {Causa::CertificadoCaducado, textos::certificadoNoVigenteAun(quien, fecha(desde))};
    }

    if (!gnutls_x509_crt_check_hostname2(propio, host.c_str(), 0))
        return {Causa::CertificadoNombre, textos::certificadoNombre(host, nombres(propio))};
    return {};
}

} // namespace login_process
