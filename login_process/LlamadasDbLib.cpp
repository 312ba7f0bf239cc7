// db-lib's calls to the C library that tarpelino-login takes for itself:
// defined here and exported, as gnutls_priority_set_direct is, so that
// libsybdb (and GnuTLS, through db-lib's own reads and writes) binds to them.
// Every call these do not concern goes to the C library's unchanged. Built
// into the executable only.
//
// connect, send, recv, poll and close on db-lib's connection go to the relay
// of the login under way (Relevo.h).
//
// gnutls_record_recv: once the whole session is encrypted, the login reply
// reaches db-lib only through it; the relay reads the reply there, in clear,
// as db-lib gets it, so that no verdict rests on db-lib's reading alone.
//
// getaddrinfo: db-lib looks up its host, the relay's 127.0.0.1, on every
// login, and asks for it with AI_ADDRCONFIG, for which the C library first
// lists every address of the machine through a netlink socket: six system
// calls and a walk of the kernel's address table per login, for a literal
// address that needs no lookup. That one literal is taken as it is.
#include "login_process/Relevo.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <gnutls/gnutls.h>
#include <netdb.h>

using login_process::Relevo;

namespace {

// The C library's own `nombre`, whose type is that of `propia`, the one defined here.
template <typename Funcion> Funcion* deLaBiblioteca(Funcion* /*propia*/, const char* nombre) {
    return reinterpret_cast<Funcion*>(::dlsym(RTLD_NEXT, nombre));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int connect(int fd, const sockaddr* direccion, socklen_t longitud) {
    if (Relevo* relevo = Relevo::deDireccion(direccion, longitud))
        return relevo->conecta(fd);
    static const auto real = deLaBiblioteca(connect, "connect");
    return real(fd, direccion, longitud);
}

__attribute__((visibility("default"))) ssize_t send(int fd, const void* datos, size_t n, int flags) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        return relevo->envia(fd, datos, n, flags);
    static const auto real = deLaBiblioteca(send, "send");
    return real(fd, datos, n, flags);
}

__attribute__((visibility("default"))) ssize_t recv(int fd, void* datos, size_t n, int flags) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        return relevo->recibe(fd, datos, n, flags);
    static const auto real = deLaBiblioteca(recv, "recv");
    return real(fd, datos, n, flags);
}

__attribute__((visibility("default"))) int poll(pollfd* fds, nfds_t n, int milisegundos) {
    for (nfds_t i = 0; i < n; ++i)
        if (Relevo* relevo = Relevo::deDescriptor(fds[i].fd))
            return relevo->espera(fds, n, milisegundos);
    static const auto real = deLaBiblioteca(poll, "poll");
    return real(fds, n, milisegundos);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        relevo->cierra(fd);
    static const auto real = deLaBiblioteca(close, "close");
    return real(fd);
}

__attribute__((visibility("default"))) int getaddrinfo(const char* nodo, const char* servicio,
                                                       const addrinfo* pistas, addrinfo** resultado) {
    static const auto real = deLaBiblioteca(getaddrinfo, "getaddrinfo");
    if (!real)
        return EAI_SYSTEM;
    if (nodo && pistas && (pistas->ai_flags & AI_ADDRCONFIG) && std::strcmp(nodo, "127.0.0.1") == 0) {
        addrinfo literal = *pistas;
        literal.ai_flags = (literal.ai_flags & ~AI_ADDRCONFIG) | AI_NUMERICHOST;
        return real(nodo, servicio, &literal, resultado);
    }
    return real(nodo, servicio, pistas, resultado);
}

__attribute__((visibility("default"))) ssize_t gnutls_record_recv(gnutls_session_t sesion, void* datos,
                                                                  size_t n) {
    using Funcion = ssize_t (*)(gnutls_session_t, void*, size_t);
    // GNUTLS_3_4 is the version libsybdb's reference asks for.
    static const auto real =
        reinterpret_cast<Funcion>(::dlvsym(RTLD_NEXT, "gnutls_record_recv", "GNUTLS_3_4"));
    if (!real)
        return GNUTLS_E_INTERNAL_ERROR;
    const ssize_t r = real(sesion, datos, n);
    if (r > 0)
        if (Relevo* relevo = Relevo::conConexion())
            relevo->descifrado(static_cast<const char*>(datos), std::size_t(r));
    return r;
}

} // extern "C"
