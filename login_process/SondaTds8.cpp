#include "login_process/SondaTds8.h"

#include "login_process/InicioRespuesta.h"
#include "login_shared/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <gnutls/gnutls.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace login_process {

using login_shared::Descriptor;
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

class Sonda {
public:
    Sonda(const DireccionIp& destino, const Plazo& plazo)
        : limite_(Plazo::Reloj::now() + std::min(plazo.restante(), kEsperaMaxima)), destino_(destino) {}
    ~Sonda() {
        if (sesion_)
            gnutls_deinit(sesion_);
        if (prioridades_)
            gnutls_priority_deinit(prioridades_);
        if (credenciales_)
            gnutls_certificate_free_credentials(credenciales_);
    }
    Sonda(const Sonda&) = delete;
    Sonda& operator=(const Sonda&) = delete;

    RespuestaTds8 sondea() {
        if (!conecta() || !preparaTls())
            return RespuestaTds8::Ninguna;
        int r;
        while ((r = gnutls_handshake(sesion_)) < 0) {
            if (gnutls_error_is_fatal(r))
                return rechazo(r);
            if (!espera())
                return RespuestaTds8::Ninguna;
        }
        gnutls_datum_t elegido{};
        if (gnutls_alpn_get_selected_protocol(sesion_, &elegido) == 0 &&
            std::string_view(reinterpret_cast<const char*>(elegido.data), elegido.size) != kAlpnTds8)
            return RespuestaTds8::TlsSinTds;
        return preloginDentro();
    }

private:
    bool conecta() {
        fd_ =
            Descriptor(::socket(destino_.direccion.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (fd_.fd() < 0)
            return false;
        if (::connect(fd_.fd(), reinterpret_cast<const sockaddr*>(&destino_.direccion), destino_.longitud) ==
            0)
            return true;
        if (errno != EINPROGRESS || !esperaFd(POLLOUT))
            return false;
        int error = 0;
        socklen_t l = sizeof error;
        return ::getsockopt(fd_.fd(), SOL_SOCKET, SO_ERROR, &error, &l) == 0 && error == 0;
    }

    bool preparaTls() {
        if (gnutls_certificate_allocate_credentials(&credenciales_) < 0 ||
            gnutls_init(&sesion_, GNUTLS_CLIENT | GNUTLS_NONBLOCK) < 0)
            return false;
        // The library's default priorities (TLS 1.0 to 1.2 here, whatever the
        // generation), through gnutls_priority_init and gnutls_priority_set: never
        // gnutls_priority_set_direct, which the login process interposes to give
        // each generation its own suites, and which gnutls_set_default_priority
        // calls through the PLT (GnuTLS 3.7.9).
        gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(kAlpnTds8)),
                            sizeof kAlpnTds8 - 1};
        if (gnutls_priority_init(&prioridades_, nullptr, nullptr) < 0 ||
            gnutls_priority_set(sesion_, prioridades_) < 0 ||
            gnutls_credentials_set(sesion_, GNUTLS_CRD_CERTIFICATE, credenciales_) < 0 ||
            gnutls_alpn_set_protocols(sesion_, &alpn, 1, 0) < 0)
            return false;
        // No certificate is verified: the question is only whether the server speaks TDS 8.0.
        gnutls_transport_set_int(sesion_, fd_.fd());
        return true;
    }

    // An alert in answer to the ClientHello: TLS is spoken there. One that
    // declines tds/8.0 (RFC 7301, 3.2) is a service with other protocols;
    // any other refuses what this process offers (its TLS versions).
    RespuestaTds8 rechazo(int error) const {
        if (error != GNUTLS_E_FATAL_ALERT_RECEIVED)
            return RespuestaTds8::Ninguna;
        if (gnutls_alert_get(sesion_) == GNUTLS_A_NO_APPLICATION_PROTOCOL)
            return RespuestaTds8::TlsSinTds;
        return RespuestaTds8::TlsRechazado;
    }

    RespuestaTds8 preloginDentro() {
        std::size_t enviado = 0;
        while (enviado < sizeof kPrelogin) {
            const ssize_t n = gnutls_record_send(sesion_, kPrelogin + enviado, sizeof kPrelogin - enviado);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
                if (!espera())
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
            const ssize_t n = gnutls_record_recv(sesion_, trozo, sizeof trozo - respuesta.size());
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) {
                if (!espera())
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

    // Waits for what GnuTLS last blocked on; false when the time is up.
    bool espera() { return esperaFd(gnutls_record_get_direction(sesion_) ? POLLOUT : POLLIN); }

    bool esperaFd(short eventos) {
        for (;;) {
            const auto resto =
                std::chrono::duration_cast<std::chrono::milliseconds>(limite_ - Plazo::Reloj::now()).count();
            if (resto <= 0)
                return false;
            pollfd p{fd_.fd(), eventos, 0};
            const int n = ::poll(&p, 1, int(resto));
            if (n > 0)
                return true;
            if (n < 0 && errno != EINTR)
                return false;
        }
    }

    const Plazo::Reloj::time_point limite_;
    const DireccionIp destino_;
    Descriptor fd_; // closed after the session that uses it
    gnutls_certificate_credentials_t credenciales_ = nullptr;
    gnutls_priority_t prioridades_ = nullptr;
    gnutls_session_t sesion_ = nullptr;
};

} // namespace

RespuestaTds8 sondeaTds8(const DireccionIp& destino, const Plazo& plazo) {
    return Sonda(destino, plazo).sondea();
}

} // namespace login_process
