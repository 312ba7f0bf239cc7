#pragma once

#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"
#include "login_shared/Secreto.h"
#include "lote/Entrada.h"
#include "probe/pasadaConexion.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lote {

// Who logs in, for every server alike.
struct Credencial {
    std::optional<std::string> usuario; // none: integrated security
    login_shared::Secreto password;
    std::string baseDatos; // empty: the window's default

    // "DOMINIO\usuario": a Windows account, signed in with NTLM, which its
    // domain locks after a few wrong passwords on any server.
    bool deDominio() const;
};

// The generations a run makes a pass with, in order.
using Generaciones = std::vector<const login_shared::Proveedor*>;
// The window's two.
const Generaciones& generacionesDeLaVentana();

// One server's passes, one per generation of the run, in its order.
struct FilaServidor {
    LineaServidor entrada;
    std::vector<probe::ResultadoPasada> pasadas;
    std::size_t indice = 0;                     // its place in the list
    const Generaciones* generaciones = nullptr; // the run's, which outlive its rows; none: the window's
    // The TLS versions it completes a handshake with, when asked for (--versiones-tls).
    std::optional<login_shared::VersionesTls> tls = std::nullopt;
};

// The generation of a row's pass `i`.
const login_shared::Proveedor& generacionDe(const FilaServidor& fila, std::size_t i);

// Finds a server's TLS versions without a login, within the run's time per pass.
// The versions in `sabidas` a pass already completed a handshake with: they cost no other.
using SondaTls = std::function<login_shared::VersionesTls(
    const std::string& servidor, const std::vector<login_shared::VersionTls>& sabidas)>;

// The description of a pass not made because `servidor` refused the domain account's password.
std::string descripcionCuentaProtegida(const std::string& servidor, const std::string& usuario);

// The description of a pass not made because the pass of `generacion` ("2005") found no SQL
// Server at `servidor`: its name, its instance or its TCP connection failed.
std::string descripcionSinServidor(const std::string& servidor, const std::string& generacion);

// Tests every server, `paralelo` at once, each one's passes in turn as the
// window runs its two; once a pass finds no SQL Server there (no name, no
// instance, no TCP connection), its later passes are rows marked not tried,
// with the same cause. Each row is handed to `alTerminar` as soon as its
// server is done, from one thread at a time; `alAcabar` is called once no
// server is left under way. Once a server refuses a domain account's login,
// or a proof of its password went out and the pass did not log in, no more
// logins are made with it unless `arriesgarBloqueo`: the passes left are rows
// marked not tried; until two different servers have accepted it, that account
// logs in on one server at a time, so that a wrong password goes out once, not
// once per server under way.
class Comprobacion {
public:
    Comprobacion(const std::vector<LineaServidor>& servidores, const Generaciones& generaciones,
                 const Credencial& credencial, int paralelo, bool arriesgarBloqueo,
                 probe::FabricaConexion fabrica, std::function<void(const FilaServidor&)> alTerminar,
                 std::function<void()> alAcabar = {});
    ~Comprobacion();
    Comprobacion(const Comprobacion&) = delete;
    Comprobacion& operator=(const Comprobacion&) = delete;

    // Each server's TLS versions, found after its passes by the same thread: before `lanza`.
    void sondeaTls(SondaTls sonda) { sondaTls_ = std::move(sonda); }

    void lanza();
    // No server starts after this, nor another pass of one under way.
    void para();
    // The servers under way, each with the passes it has ended and the rest
    // marked interrupted, in the list's order. Once `para` has returned, a server
    // leaves this list only after `alTerminar` has returned for it.
    std::vector<FilaServidor> enCurso() const;
    // Until every thread is done.
    void espera();

private:
    void trabaja();
    probe::ResultadoPasada pasada(const LineaServidor& entrada, std::size_t generacion);

    const std::vector<LineaServidor>& servidores_;
    const Generaciones& generaciones_;
    const Credencial& credencial_;
    std::size_t hilos_;
    bool protegeCuenta_;
    probe::FabricaConexion fabrica_;
    std::function<void(const FilaServidor&)> alTerminar_;
    std::function<void()> alAcabar_;
    SondaTls sondaTls_;

    std::atomic<std::size_t> siguiente_{0};
    std::atomic<bool> parar_{false};
    // Each server under way by its place in the list, and how many of its passes have ended.
    mutable std::mutex cursoMutex_;
    std::map<std::size_t, std::pair<FilaServidor, std::size_t>> enCurso_;
    std::atomic<std::size_t> enMarcha_{0};
    std::mutex avisoMutex_;
    // The account's state, for a domain account: until a login goes through, one login at a time.
    std::mutex cuentaMutex_;
    std::mutex turnoMutex_;
    bool confirmada_ = false;
    std::set<std::string> aceptadaPor_; // the servers that accepted it
    std::optional<std::string> rechazadaPor_;
    std::vector<std::thread> trabajadores_;
};

} // namespace lote
