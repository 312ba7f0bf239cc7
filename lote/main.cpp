#include "data_access/ConexionFreeTds.h"
#include "data_access/VersionesTlsServidor.h"
#include "lote/Contrasena.h"
#include "lote/Lote.h"

#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
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
    // Holds the password for the whole run: no core file, and no other process
    // of the user may read its memory, as for the login process.
    ::prctl(PR_SET_DUMPABLE, 0);
    // A reader that goes away (head) ends the run at once and quietly, even
    // when the shell that started it ignores the signal.
    std::signal(SIGPIPE, SIG_DFL);
    lote::Entorno entorno{std::cin, std::cout, std::cerr};
    entorno.anchuraSalida = anchuraTerminal(STDOUT_FILENO);
    entorno.anchuraErrores = anchuraTerminal(STDERR_FILENO);
    // The run's crew, which its TLS probes share; it lives as long as the run's factory.
    std::weak_ptr<data_access::CuadrillaLogins> deLaEjecucion;
    entorno.fabrica = [&deLaEjecucion](int segundos, const std::string& archivoCa) -> probe::FabricaConexion {
        // Many logins at once: waiting for a login's process is not its server's time.
        // The run's logins share its workers, each a login process that serves them in turn.
        auto cuadrilla = std::make_shared<data_access::CuadrillaLogins>();
        deLaEjecucion = cuadrilla;
        return [segundos, cuadrilla, archivoCa] {
            // Its rows show no login's summary: no judgement is made for one.
            return data_access::nuevaConexion(std::chrono::seconds(segundos), true, cuadrilla, archivoCa,
                                              false);
        };
    };
    entorno.sondaTls = [&deLaEjecucion](int segundos) -> lote::SondaTls {
        return [segundos, cuadrilla = deLaEjecucion.lock()](
                   const std::string& servidor, const std::vector<login_shared::VersionTls>& sabidas) {
            return data_access::versionesTlsDe(servidor, std::chrono::seconds(segundos), cuadrilla, {},
                                               sabidas);
        };
    };
    entorno.contrasenaDelEntorno = lote::tomaContrasenaDelEntorno;
    entorno.pideContrasena = lote::pideContrasena;
    entorno.atiendeSenales = true;
    return lote::ejecutaLote(std::vector<std::string>(argv + 1, argv + argc), entorno);
}
