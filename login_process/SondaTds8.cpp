#include "login_process/SondaTds8.h"

#include "login_process/ClienteTls.h"
#include "login_process/InicioRespuesta.h"

#include <algorithm>
#include <gnutls/gnutls.h>

namespace login_process {

using login_shared::Plazo;

namespace {

// A strict server answers a ClientHello in one round trip; this bounds the
// probe when the login has no deadline, or a long one, left.
constexpr std::chrono::milliseconds kEsperaMaxima{5000};

// The smallest PRELOGIN: VERSION, ENCRYPTION (off: TLS already carries
// everything), terminator (MS-TDS 2.2.6.5).
constexpr unsigned char kPrelogin[] = {0x12, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, // header
                                       0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                                       0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

constexpr char kAlpnTds8[] = "tds/8.0";

// As written on the wire: 0x0303 for TLS 1.2.
std::uint16_t versionAcordada(gnutls_session_t sesion) {
    switch (gnutls_protocol_get_version(sesion)) {
    case GNUTLS_TLS1_0:
        return 0x0301;
    case GNUTLS_TLS1_1:
        return 0x0302;
    case GNUTLS_TLS1_2:
        return 0x0303;
    case GNUTLS_TLS1_3:
        return 0x0304;
    default:
        return 0;
    }
}

class Sonda {
public:
    Sonda(const DireccionIp& destino, const Plazo& plazo)
        : cliente_(destino, Plazo::Reloj::now() + std::min(plazo.restante(), kEsperaMaxima)) {}

    RespuestaTds8 sondea(std::uint16_t* versionTls) {
        // The library's default priorities (TLS 1.0 to 1.2 here, whatever the generation).
        if (!cliente_.conecta() || !cliente_.preparaTls(nullptr, kAlpnTds8, ClienteTls::Transporte::Directo))
            return RespuestaTds8::Ninguna;
        if (const int r = cliente_.handshake(); r < 0)
            return rechazo(r);
        gnutls_datum_t elegido{};
        if (gnutls_alpn_get_selected_protocol(cliente_.sesion(), &elegido) == 0 &&
            std::string_view(reinterpret_cast<const char*>(elegido.data), elegido.size) != kAlpnTds8)
            return RespuestaTds8::TlsSinTds;
        const RespuestaTds8 respuesta = preloginDentro();
        if (respuesta == RespuestaTds8::Tds8 && versionTls)
            *versionTls = versionAcordada(cliente_.sesion());
        return respuesta;
    }

private:
    // An alert in answer to the ClientHello: TLS is spoken there. One that
    // declines tds/8.0 (RFC 7301, 3.2) is a service with other protocols;
    // any other refuses what this process offers (its TLS versions).
    RespuestaTds8 rechazo(int error) const {
        if (error != GNUTLS_E_FATAL_ALERT_RECEIVED)
            return RespuestaTds8::Ninguna;
        if (gnutls_alert_get(cliente_.sesion()) == GNUTLS_A_NO_APPLICATION_PROTOCOL)
            return RespuestaTds8::TlsSinTds;
        return RespuestaTds8::TlsRechazado;
    }

    RespuestaTds8 preloginDentro() {
        gnutls_session_t sesion = cliente_.sesion();
        std::size_t enviado = 0;
        while (enviado < sizeof kPrelogin) {
            const ssize_t n = gnutls_record_send(sesion, kPrelogin + enviado, sizeof kPrelogin - enviado);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
                if (!cliente_.espera())
                    return RespuestaTds8::Ninguna;
                continue;
            }
            if (n < 0)
                return RespuestaTds8::TlsSinTds;
            enviado += std::size_t(n);
        }
        std::string respuesta;
        while (respuesta.size() < 8) {
            char trozo[8];
            const ssize_t n = gnutls_record_recv(sesion, trozo, sizeof trozo - respuesta.size());
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
                if (!cliente_.espera())
                    return RespuestaTds8::Ninguna;
                continue;
            }
            if (n <= 0)
                break;
            respuesta.append(trozo, std::size_t(n));
        }
        return respuesta.size() == 8 && clasificaInicio(respuesta) == InicioRespuesta::Tds
                   ? RespuestaTds8::Tds8
                   : RespuestaTds8::TlsSinTds;
    }

    ClienteTls cliente_;
};

} // namespace

RespuestaTds8 sondeaTds8(const DireccionIp& destino, const Plazo& plazo, std::uint16_t* versionTls) {
    return Sonda(destino, plazo).sondea(versionTls);
}

} // namespace login_process
