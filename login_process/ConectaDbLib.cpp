// db-lib connects its own TCP socket to the host and port of its
// configuration, and FreeTDS 1.3 has no way to be given a connected socket.
// So tarpelino-login defines connect() itself and exports it: libsybdb's call
// binds to this one, which, when it is the login's connection to its relay
// (ExtremoDbLib.h), puts the relay's socket pair end in place of db-lib's
// socket and reports it connected; every other connection goes to the C
// library's connect unchanged. Built into the executable only, as
// PrioridadGeneracion.cpp is: a test that links the library talks to the
// relay over TCP.
#include "login_process/ExtremoDbLib.h"

#include <cerrno>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int connect(int fd, const sockaddr* destino,
                                                              socklen_t longitud) {
    if (const int extremo = login_process::tomaExtremoDbLib(destino, longitud); extremo >= 0) {
        // db-lib's socket is replaced where it stands: its number, and its options, are its own affair.
        const int hecho = ::dup2(extremo, fd);
        const int error = errno;
        ::close(extremo);
        errno = error;
        return hecho < 0 ? -1 : 0;
    }
    using Funcion = int (*)(int, const sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Funcion>(::dlsym(RTLD_NEXT, "connect"));
    if (!real)
        return int(::syscall(SYS_connect, fd, destino, longitud));
    return real(fd, destino, longitud);
}
