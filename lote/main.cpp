#include "data_access/ConexionFreeTds.h"
#include "lote/Contrasena.h"
#include "lote/Lote.h"

#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::size_t anchuraTerminal(int fd) {
    winsize w{};
    if (!::isatty(fd))
        return 0;
    return ::ioctl(fd, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 ? w.ws_col : 80;
}

} // namespace

int main(int argc, char** argv) {
    lote::Entorno entorno{std::cin, std::cout, std::cerr};
    entorno.anchuraSalida = anchuraTerminal(STDOUT_FILENO);
    entorno.anchuraErrores = anchuraTerminal(STDERR_FILENO);
    entorno.fabrica = [](int segundos) -> probe::FabricaConexion {
        // The run's logins share its workers, each a login process that serves them in turn.
        auto cuadrilla = std::make_shared<data_access::CuadrillaLogins>();
        return [segundos, cuadrilla] {
            return data_access::nuevaConexion(std::chrono::seconds(segundos), cuadrilla);
        };
    };
    entorno.contrasenaDelEntorno = lote::tomaContrasenaDelEntorno;
    entorno.pideContrasena = lote::pideContrasena;
    return lote::ejecutaLote(std::vector<std::string>(argv + 1, argv + argc), entorno);
}
