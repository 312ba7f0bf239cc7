#pragma once

#include "login_shared/ProtocoloLogin.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace data_access {

// A tarpelino-login process, and the parent's end of its channel (descriptor 3 in the child).
struct ProcesoArrancado {
    pid_t pid = -1;
    int canal = -1;
};

// What a login process takes from its start and keeps: GnuTLS's system
// priority file (read once per process), its environment (where FreeTDS's
// files and the Kerberos cache are) and its working directory.
struct PerfilArranque {
    std::string prioridadesTls;
    std::vector<std::string> entorno; // what the process gets: FreeTDS's overrides left out
    std::string directorio;
    bool operator==(const PerfilArranque& o) const {
        return prioridadesTls == o.prioridadesTls && entorno == o.entorno && directorio == o.directorio;
    }
};

PerfilArranque perfilArranque();

// Starts a login process with that profile; throws ErrorConexion if it cannot.
ProcesoArrancado arrancaProcesoLogin(const PerfilArranque& perfil);

// Closes a descriptor that may be -1 and leaves it -1.
void cierraFd(int& fd);

// Waits for the child to end, killing it if it has not within `espera`; its wait status.
int terminaHijo(pid_t pid, std::chrono::milliseconds espera);

// Where tarpelino-login is: the one installed beside this executable
// (<prefix>/libexec/tarpelino) when there is one, and only for an
// executable of the build tree the one built there; else none.
std::string rutaProcesoLogin();
// The same choice for an executable at `ejecutable`; empty when there is none to run.
std::string rutaProcesoLoginPara(const std::string& ejecutable, const std::string& arbolCompilacion,
                                 const std::string& rutaCompilada);

} // namespace data_access
