// db-lib's calls on its connection to the server go to the relay of the login
// under way (Relevo.h): tarpelino-login defines connect, send, recv, poll and
// close itself and exports them, as it does getaddrinfo, so that libsybdb (and
// GnuTLS, through db-lib's own reads and writes) binds to them. A call on any
// other address or descriptor goes to the C library's unchanged. Built into
// the executable only.
#include "login_process/Relevo.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

using login_process::Relevo;

namespace {

template <typename Funcion> Funcion deLaBiblioteca(const char* nombre) {
    return reinterpret_cast<Funcion>(::dlsym(RTLD_NEXT, nombre));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int connect(int fd, const sockaddr* direccion, socklen_t longitud) {
    if (Relevo* relevo = Relevo::deDireccion(direccion, longitud))
        return relevo->conecta(fd);
    return int(::syscall(SYS_connect, fd, direccion, longitud));
}

__attribute__((visibility("default"))) ssize_t send(int fd, const void* datos, size_t n, int flags) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        return relevo->envia(fd, datos, n, flags);
    return ::sendto(fd, datos, n, flags, nullptr, 0);
}

__attribute__((visibility("default"))) ssize_t recv(int fd, void* datos, size_t n, int flags) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        return relevo->recibe(fd, datos, n, flags);
    return ::recvfrom(fd, datos, n, flags, nullptr, nullptr);
}

__attribute__((visibility("default"))) int poll(pollfd* fds, nfds_t n, int milisegundos) {
    for (nfds_t i = 0; i < n; ++i)
        if (Relevo* relevo = Relevo::deDescriptor(fds[i].fd))
            return relevo->espera(fds, n, milisegundos);
    using Funcion = int (*)(pollfd*, nfds_t, int);
    static const auto real = deLaBiblioteca<Funcion>("poll");
    return real(fds, n, milisegundos);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (Relevo* relevo = Relevo::deDescriptor(fd))
        relevo->cierra(fd);
    using Funcion = int (*)(int);
    static const auto real = deLaBiblioteca<Funcion>("close");
    return real(fd);
}

} // extern "C"
