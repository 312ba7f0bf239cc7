#include "login_process/ClienteTls.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace login_process {

using login_shared::Descriptor;

namespace {

constexpr std::size_t kCabecera = 8;
constexpr unsigned char kTipoPrelogin = 0x12;
constexpr unsigned char kFinMensaje = 0x01;
// A TDS packet's size before the login agrees another (MS-TDS 2.2.6.4).
constexpr std::size_t kPaqueteMaximo = 4096;

} // namespace

ClienteTls::ClienteTls(const DireccionIp& destino, Plazo::Reloj::time_point limite)
    : limite_(limite), destino_(destino) {}

ClienteTls::~ClienteTls() {
    if (sesion_)
        gnutls_deinit(sesion_);
    if (prioridades_)
        gnutls_priority_deinit(prioridades_);
    if (credenciales_)
        gnutls_certificate_free_credentials(credenciales_);
}

bool ClienteTls::conecta() {
    fd_ = Descriptor(::socket(destino_.direccion.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd_.fd() < 0)
        return false;
    if (::connect(fd_.fd(), reinterpret_cast<const sockaddr*>(&destino_.direccion), destino_.longitud) == 0)
        return true;
    if (errno != EINPROGRESS || !esperaFd(POLLOUT))
        return false;
    int error = 0;
    socklen_t l = sizeof error;
    return ::getsockopt(fd_.fd(), SOL_SOCKET, SO_ERROR, &error, &l) == 0 && error == 0;
}

bool ClienteTls::enviaTodo(const char* datos, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::send(fd_.fd(), datos, n, MSG_NOSIGNAL);
        if (r > 0) {
            datos += r;
            n -= std::size_t(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!esperaFd(POLLOUT))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool ClienteTls::leeExacto(char* datos, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::recv(fd_.fd(), datos, n, 0);
        if (r > 0) {
            datos += r;
            n -= std::size_t(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!esperaFd(POLLIN))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<std::string> ClienteTls::recibePaquete() {
    char cabecera[kCabecera];
    if (!leeExacto(cabecera, sizeof cabecera))
        return std::nullopt;
    const std::size_t total =
        std::size_t(static_cast<unsigned char>(cabecera[2])) << 8 | static_cast<unsigned char>(cabecera[3]);
    std::string carga(total > kCabecera ? total - kCabecera : 0, '\0');
    if (!leeExacto(carga.data(), carga.size()))
        return std::nullopt;
    return carga;
}

bool ClienteTls::preparaTls(const char* prioridad, const char* alpn, Transporte transporte) {
    if (gnutls_certificate_allocate_credentials(&credenciales_) < 0 ||
        gnutls_init(&sesion_, GNUTLS_CLIENT | GNUTLS_NONBLOCK) < 0 ||
        gnutls_priority_init(&prioridades_, prioridad, nullptr) < 0 ||
        gnutls_priority_set(sesion_, prioridades_) < 0 ||
        gnutls_credentials_set(sesion_, GNUTLS_CRD_CERTIFICATE, credenciales_) < 0)
        return false;
    if (alpn) {
        gnutls_datum_t protocolo{reinterpret_cast<unsigned char*>(const_cast<char*>(alpn)),
                                 unsigned(std::char_traits<char>::length(alpn))};
        if (gnutls_alpn_set_protocols(sesion_, &protocolo, 1, 0) < 0)
            return false;
    }
    // No certificate is verified: the question is which handshakes the server completes.
    if (transporte == Transporte::Directo) {
        gnutls_transport_set_int(sesion_, fd_.fd());
        return true;
    }
    gnutls_transport_set_ptr(sesion_, this);
    gnutls_transport_set_vec_push_function(sesion_, empujaEnPrelogin);
    gnutls_transport_set_pull_function(sesion_, tiraDePrelogin);
    gnutls_transport_set_pull_timeout_function(sesion_, esperaDePrelogin);
    return true;
}

int ClienteTls::handshake() {
    int r;
    while ((r = gnutls_handshake(sesion_)) < 0) {
        if (gnutls_error_is_fatal(r))
            return agotado() ? GNUTLS_E_TIMEDOUT : r;
        if (!espera())
            return GNUTLS_E_TIMEDOUT;
    }
    return 0;
}

// A whole flight in one packet, as a TDS client sends it, cut only where a
// packet would outgrow its size; sent whole within the time, or not at all.
ssize_t ClienteTls::empujaEnPrelogin(gnutls_transport_ptr_t yo, const giovec_t* trozos, int cuantos) {
    auto* c = static_cast<ClienteTls*>(yo);
    std::string datos;
    for (int i = 0; i < cuantos; ++i)
        datos.append(static_cast<const char*>(trozos[i].iov_base), trozos[i].iov_len);
    std::string paquetes;
    for (std::size_t pos = 0; pos < datos.size();) {
        const std::size_t carga = std::min(datos.size() - pos, kPaqueteMaximo - kCabecera);
        const std::size_t total = carga + kCabecera;
        const bool ultimo = pos + carga == datos.size();
        const char cabecera[kCabecera] = {char(kTipoPrelogin),
                                          char(ultimo ? kFinMensaje : 0),
                                          char(total >> 8),
                                          char(total & 0xFF),
                                          0,
                                          0,
                                          char(c->paquete_++),
                                          0};
        paquetes.append(cabecera, sizeof cabecera);
        paquetes.append(datos, pos, carga);
        pos += carga;
    }
    if (!c->enviaTodo(paquetes.data(), paquetes.size())) {
        gnutls_transport_set_errno(c->sesion_, c->agotado() ? ETIMEDOUT : EPIPE);
        return -1;
    }
    return ssize_t(datos.size());
}

// The server's packets' payloads, whatever their type (0x12, or 0x04 from
// older servers), one after another.
ssize_t ClienteTls::tiraDePrelogin(gnutls_transport_ptr_t yo, void* datos, std::size_t n) {
    auto* c = static_cast<ClienteTls*>(yo);
    while (c->restanteServidor_ == 0) {
        char cabecera[kCabecera];
        if (!c->leeExacto(cabecera, sizeof cabecera)) {
            if (c->agotado()) {
                gnutls_transport_set_errno(c->sesion_, ETIMEDOUT);
                return -1;
            }
            return 0;
        }
        const std::size_t total = std::size_t(static_cast<unsigned char>(cabecera[2])) << 8 |
                                  static_cast<unsigned char>(cabecera[3]);
        c->restanteServidor_ = total > kCabecera ? total - kCabecera : 0;
    }
    for (;;) {
        const ssize_t r = ::recv(c->fd_.fd(), datos, std::min(n, c->restanteServidor_), 0);
        if (r > 0) {
            c->restanteServidor_ -= std::size_t(r);
            return r;
        }
        if (r == 0)
            return 0;
        if ((errno != EAGAIN && errno != EINTR) || !c->esperaFd(POLLIN)) {
            gnutls_transport_set_errno(c->sesion_, c->agotado() ? ETIMEDOUT : ECONNRESET);
            return -1;
        }
    }
}

int ClienteTls::esperaDePrelogin(gnutls_transport_ptr_t yo, unsigned int ms) {
    auto* c = static_cast<ClienteTls*>(yo);
    const auto resto =
        std::chrono::duration_cast<std::chrono::milliseconds>(c->limite_ - Plazo::Reloj::now());
    pollfd p{c->fd_.fd(), POLLIN, 0};
    const int n = ::poll(&p, 1, int(std::clamp<long long>(resto.count(), 0, ms)));
    return n < 0 ? -1 : n;
}

bool ClienteTls::espera() {
    return esperaFd(gnutls_record_get_direction(sesion_) ? POLLOUT : POLLIN);
}

bool ClienteTls::esperaFd(short eventos) {
    for (;;) {
        const auto resto =
            std::chrono::duration_cast<std::chrono::milliseconds>(limite_ - Plazo::Reloj::now()).count();
        if (resto <= 0)
            return false;
        pollfd p{fd_.fd(), eventos, 0};
        const int n = ::poll(&p, 1, int(std::min<long long>(resto, 1 << 30)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace login_process
