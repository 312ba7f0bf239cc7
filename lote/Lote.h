#pragma once

#include "login_shared/Secreto.h"
#include "lote/Comprobacion.h"
#include "probe/pasadaConexion.h"

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lote {

// Exit statuses.
constexpr int kTodasCorrectas = 0;
constexpr int kAlgunFallo = 1; // a pass that did not log in, or lines that are no servers
// A command line or a list that asks for nothing to be done, or a file that cannot be read (as grep
// ends when a file is missing, once the other files' servers are written).
constexpr int kErrorUso = 2;
// Cut short by a signal, after writing what was done: 128 and its number, as a shell shows it.
constexpr int kInterrumpida = 128;

// Where the program reads and writes, and what it asks the system; tests put their own.
struct Entorno {
    Entorno(std::istream& entrada_, std::ostream& salida_, std::ostream& errores_)
        : entrada(entrada_), salida(salida_), errores(errores_) {}

    std::istream& entrada;
    std::ostream& salida;
    std::ostream& errores;
    // Terminal widths; 0 when that stream is no terminal.
    std::size_t anchuraSalida = 0;
    std::size_t anchuraErrores = 0;
    // Makes the connection object for a pass with this timeout per pass; a client that checks
    // certificates also trusts the CAs of `archivoCa` (PEM; empty: the system's alone).
    std::function<probe::FabricaConexion(int segundos, const std::string& archivoCa)> fabrica;
    // Finds a server's TLS versions within this many seconds (--versiones-tls).
    std::function<SondaTls(int segundos)> sondaTls;
    // The password: from the environment first, else asked for; none when neither can.
    std::function<std::optional<login_shared::Secreto>()> contrasenaDelEntorno;
    std::function<std::optional<login_shared::Secreto>(const std::string& pregunta)> pideContrasena;
    // SIGINT, SIGTERM and SIGHUP end the run early, once what was done is
    // written, and end the process: for the program, not for tests in one.
    bool atiendeSenales = false;
};

// The whole program for `argumentos` (argv without the program's name); its exit status.
int ejecutaLote(const std::vector<std::string>& argumentos, Entorno& entorno);

} // namespace lote
