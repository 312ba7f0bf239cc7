// db-lib looks up its host, the relay's 127.0.0.1, on every login, and asks
// for it with AI_ADDRCONFIG, for which the C library first lists every address
// of the machine through a netlink socket: six system calls and a walk of the
// kernel's address table per login, for a literal address that needs no
// lookup. So tarpelino-login defines getaddrinfo itself and exports it, as it
// does gnutls_priority_set_direct: that one literal is taken as it is, without
// the question; every other lookup goes to the C library's unchanged. Built
// into the executable only.
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>

extern "C" __attribute__((visibility("default"))) int
getaddrinfo(const char* nodo, const char* servicio, const addrinfo* pistas, addrinfo** resultado) {
    using Funcion = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Funcion>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    if (!real)
        return EAI_SYSTEM;
    if (nodo && pistas && (pistas->ai_flags & AI_ADDRCONFIG) && std::strcmp(nodo, "127.0.0.1") == 0) {
        addrinfo literal = *pistas;
        literal.ai_flags = (literal.ai_flags & ~AI_ADDRCONFIG) | AI_NUMERICHOST;
        return real(nodo, servicio, &literal, resultado);
    }
    return real(nodo, servicio, pistas, resultado);
}
