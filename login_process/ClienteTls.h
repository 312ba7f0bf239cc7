#pragma once

#include "login_process/ResolucionNombres.h"
#include "login_shared/Descriptor.h"
#include "login_shared/Plazo.h"

#include <cstddef>
#include <gnutls/gnutls.h>
#include <optional>
#include <string>

namespace login_process {

using login_shared::Plazo;

// A TLS client of this process's own on a TCP connection of its own, never
// past `limite`: the strict probe's, with TLS from the first byte, and the TLS
// versions' probe, with the handshake inside PRELOGIN packets as a TDS 7.x
// client sends it (MS-TDS 2.2.6.5). GnuTLS reads the records; nothing else does.
class ClienteTls {
public:
    enum class Transporte {
        Directo,    // records straight on the socket
        EnPrelogin, // each flight the payload of 0x12 packets; the server's packets unwrapped
    };

    ClienteTls(const DireccionIp& destino, Plazo::Reloj::time_point limite);
    ~ClienteTls();
    ClienteTls(const ClienteTls&) = delete;
    ClienteTls& operator=(const ClienteTls&) = delete;

    bool conecta();
    // In clear, before TLS: all of it, or false.
    bool enviaTodo(const char* datos, std::size_t n);
    // The payload of one whole TDS packet, in clear; none when the server
    // closed, reset or let the time run out first.
    std::optional<std::string> recibePaquete();

    // `prioridad`: a GnuTLS priority string, or null for the library's
    // default; `alpn`: the one protocol offered, or null. Set through
    // gnutls_priority_init, never gnutls_priority_set_direct, which this
    // process interposes to give each generation its own suites.
    bool preparaTls(const char* prioridad, const char* alpn, Transporte transporte);
    // 0 once the handshake is over, else GnuTLS's fatal error
    // (GNUTLS_E_TIMEDOUT when the time ran out).
    int handshake();

    gnutls_session_t sesion() const { return sesion_; }
    bool agotado() const { return Plazo::Reloj::now() >= limite_; }
    // Waits for what GnuTLS last blocked on; false when the time is up.
    bool espera();

private:
    bool esperaFd(short eventos);
    bool leeExacto(char* datos, std::size_t n);
    static ssize_t empujaEnPrelogin(gnutls_transport_ptr_t yo, const giovec_t* trozos, int cuantos);
    static ssize_t tiraDePrelogin(gnutls_transport_ptr_t yo, void* datos, std::size_t n);
    static int esperaDePrelogin(gnutls_transport_ptr_t yo, unsigned int ms);

    const Plazo::Reloj::time_point limite_;
    const DireccionIp destino_;
    login_shared::Descriptor fd_; // closed after the session that uses it
    gnutls_certificate_credentials_t credenciales_ = nullptr;
    gnutls_priority_t prioridades_ = nullptr;
    gnutls_session_t sesion_ = nullptr;
    std::size_t restanteServidor_ = 0; // of the server's packet being unwrapped
    unsigned char paquete_ = 1;        // the next packet's number
};

} // namespace login_process
