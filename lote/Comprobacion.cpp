#include "lote/Comprobacion.h"

#include "login_shared/Causa.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"

#include <algorithm>
#include <system_error>

namespace lote {

bool Credencial::deDominio() const {
    return usuario && usuario->find('\\') != std::string::npos;
}

const Generaciones& generacionesDeLaVentana() {
    static const Generaciones ventana = [] {
        Generaciones g;
        for (const login_shared::Proveedor& p : login_shared::generaciones())
            g.push_back(&p);
        return g;
    }();
    return ventana;
}

const login_shared::Proveedor& generacionDe(const FilaServidor& fila, std::size_t i) {
    return *(fila.generaciones ? *fila.generaciones : generacionesDeLaVentana()).at(i);
}

std::string descripcionCuentaProtegida(const std::string& servidor, const std::string& usuario) {
    return "No se intentó: el servidor " + servidor +
           " rechazó el inicio de sesión de la cuenta de dominio " + usuario +
           ", y cada intento fallido más con esa contraseña, en cualquier servidor, cuenta para que el "
           "dominio bloquee la cuenta. Compruebe la contraseña, o repita con --arriesgar-bloqueo si sabe "
           "que no se bloqueará.";
}

std::string descripcionSinServidor(const std::string& servidor, const std::string& generacion) {
    return "No se intentó: el intento con " + generacion + " no llegó a ningún SQL Server en " + servidor +
           ", y este intento iría por el mismo camino (el nombre, la instancia, la conexión TCP).";
}

namespace {

// The server refused the login, or the password's proof reached it and the
// pass did not log in, whatever stopped it then (a deadline, junk, a close): the
// domain may have counted it. An open that says nothing of why it failed counts
// too when it got as far as the login's reply: the account is safer for one run
// stopped too soon. A database that could not be opened is not the password's doing.
bool rechazada(const probe::ResultadoPasada& r) {
    if (r.correcta || !r.datos || r.datos->abierta)
        return false;
    if (r.datos->causa == login_shared::Causa::BaseDatos)
        return false;
    if (r.datos->pruebaEnviada)
        return true;
    if (r.datos->causa)
        return *r.datos->causa == login_shared::Causa::InicioSesion;
    return r.datos->etapa == login_shared::Etapa::RespuestaLogin;
}

// Who accepted the account: the address and port that took the login, else the name as listed.
std::string servidorQueAcepto(const LineaServidor& entrada, const probe::ResultadoPasada& r) {
    if (r.datos && !r.datos->resumen.direccion.empty())
        return r.datos->resumen.direccion + "," + std::to_string(r.datos->resumen.puerto);
    return entrada.servidor;
}

// One server that accepts any password (misconfigured, or hostile) must not
// let wrong proofs go out side by side: two must have accepted it.
constexpr std::size_t kAceptacionesParaParalelo = 2;

// The TLS versions the row's passes completed a handshake with, as far as they logged in.
std::vector<login_shared::VersionTls> versionesCompletadas(const FilaServidor& fila) {
    std::vector<login_shared::VersionTls> versiones;
    for (const probe::ResultadoPasada& p : fila.pasadas)
        if (p.correcta && p.datos && p.datos->resumen.loginCifrado)
            if (const auto v = login_shared::versionTlsDelCable(p.datos->resumen.versionTls);
                v && std::find(versiones.begin(), versiones.end(), *v) == versiones.end())
                versiones.push_back(*v);
    return versiones;
}

// The pass stopped before any byte reached a SQL Server: the name, the instance or the TCP
// connection, refused or out of time. Every later client takes the same road to it.
bool sinLlegarAlServidor(const probe::ResultadoPasada& r) {
    if (r.correcta || !r.datos || r.datos->abierta || !r.datos->causa)
        return false;
    switch (*r.datos->causa) {
    case login_shared::Causa::Nombre:
    case login_shared::Causa::Instancia:
        return true;
    case login_shared::Causa::Tcp:
    case login_shared::Causa::Tiempo:
        // A close or a silence after the connection was made is the server's answer.
        return r.datos->etapa <= login_shared::Etapa::ConexionTcp;
    default:
        return false;
    }
}

// A pass not made because the pass of `generacion` found no SQL Server at `servidor`.
probe::ResultadoPasada noIntentadaSinServidor(const probe::ResultadoPasada& fallida,
                                              const std::string& servidor,
                                              const login_shared::Proveedor& generacion) {
    probe::ResultadoPasada r;
    r.intentada = false;
    r.descripcion = descripcionSinServidor(servidor, generacion.version);
    r.datos.emplace();
    r.datos->causa = fallida.datos->causa;
    r.datos->etapa = fallida.datos->etapa;
    return r;
}

// A pass the run's end cut short, or left unstarted.
probe::ResultadoPasada interrumpida(bool empezada) {
    probe::ResultadoPasada r;
    r.descripcion = empezada ? "La ejecución se interrumpió antes de que terminara este intento."
                             : "La ejecución se interrumpió antes de que empezara este intento.";
    r.datos.emplace();
    r.datos->causa = login_shared::Causa::Interrumpida;
    return r;
}

} // namespace

Comprobacion::Comprobacion(const std::vector<LineaServidor>& servidores, const Generaciones& generaciones,
                           const Credencial& credencial, int paralelo, bool arriesgarBloqueo,
                           probe::FabricaConexion fabrica,
                           std::function<void(const FilaServidor&)> alTerminar,
                           std::function<void()> alAcabar)
    : servidores_(servidores), generaciones_(generaciones), credencial_(credencial),
      hilos_(std::min<std::size_t>(std::size_t(std::max(paralelo, 1)), servidores.size())),
      protegeCuenta_(credencial.deDominio() && !arriesgarBloqueo), fabrica_(std::move(fabrica)),
      alTerminar_(std::move(alTerminar)), alAcabar_(std::move(alAcabar)) {}

Comprobacion::~Comprobacion() {
    para();
    espera();
}

probe::ResultadoPasada Comprobacion::pasada(const LineaServidor& entrada, std::size_t generacion) {
    const std::string baseDatos =
        credencial_.baseDatos.empty() ? std::string(probe::kBaseDatosPorDefecto) : credencial_.baseDatos;
    // An empty user is the window's integrated security, whatever the password.
    const std::string usuario = credencial_.usuario.value_or(std::string());
    const auto ejecuta = [&] {
        return probe::ejecutaPasada(fabrica_, generaciones_[generacion]->nombre, entrada.servidor, baseDatos,
                                    usuario, credencial_.password);
    };
    if (!protegeCuenta_)
        return ejecuta();

    // Until two servers have accepted the account, its logins take turns.
    std::unique_lock<std::mutex> turno(turnoMutex_, std::defer_lock);
    for (;;) {
        {
            std::lock_guard<std::mutex> cerrojo(cuentaMutex_);
            if (rechazadaPor_) {
                probe::ResultadoPasada noIntentada;
                noIntentada.descripcion = descripcionCuentaProtegida(*rechazadaPor_, usuario);
                noIntentada.datos.emplace();
                noIntentada.datos->causa = login_shared::Causa::CuentaProtegida;
                return noIntentada;
            }
            if (confirmada_ && turno.owns_lock())
                turno.unlock();
            if (confirmada_ || turno.owns_lock())
                break;
        }
        turno.lock();
    }
    probe::ResultadoPasada r = ejecuta();
    std::lock_guard<std::mutex> cerrojo(cuentaMutex_);
    if (rechazada(r) && !rechazadaPor_)
        rechazadaPor_ = entrada.servidor;
    if (r.correcta)
        aceptadaPor_.insert(servidorQueAcepto(entrada, r));
    confirmada_ = aceptadaPor_.size() >= kAceptacionesParaParalelo;
    return r;
}

void Comprobacion::trabaja() {
    const std::size_t pasadas = generaciones_.size();
    for (;;) {
        std::size_t i = 0;
        {
            // Taken with the check, so that no server starts once `para` has returned.
            std::lock_guard<std::mutex> cerrojo(cursoMutex_);
            if (parar_ || (i = siguiente_++) >= servidores_.size())
                return;
            enCurso_[i] = {
                FilaServidor{servidores_[i], std::vector<probe::ResultadoPasada>(pasadas), i, &generaciones_},
                0};
        }
        FilaServidor fila;
        // The first pass that found no SQL Server there, whose outcome the later ones share.
        std::optional<std::size_t> sinServidor;
        for (std::size_t g = 0; g < pasadas; ++g) {
            probe::ResultadoPasada r;
            if (sinServidor) {
                std::lock_guard<std::mutex> cerrojo(cursoMutex_);
                r = noIntentadaSinServidor(enCurso_[i].first.pasadas[*sinServidor], servidores_[i].servidor,
                                           *generaciones_[*sinServidor]);
            } else {
                r = pasada(servidores_[i], g);
                if (sinLlegarAlServidor(r))
                    sinServidor = g;
            }
            std::lock_guard<std::mutex> cerrojo(cursoMutex_);
            auto& [enMarcha, hechas] = enCurso_[i];
            enMarcha.pasadas[g] = std::move(r);
            hechas = g + 1;
            // The run is ending: its row is the one `enCurso` gives.
            if (parar_)
                return;
            if (hechas == pasadas)
                fila = enMarcha;
        }
        // No password goes with it: the account's guard has nothing to count. Where no pass found a
        // SQL Server, neither would it: a firewalled server costs no other --tiempo.
        if (sondaTls_) {
            login_shared::VersionesTls tls =
                sinServidor
                    ? login_shared::VersionesTls{{},
                                                 descripcionSinServidor(servidores_[i].servidor,
                                                                        generaciones_[*sinServidor]->version)}
                    : sondaTls_(servidores_[i].servidor, versionesCompletadas(fila));
            std::lock_guard<std::mutex> cerrojo(cursoMutex_);
            if (parar_)
                return;
            fila.tls = enCurso_[i].first.tls = std::move(tls);
        }
        {
            std::lock_guard<std::mutex> cerrojo(avisoMutex_);
            if (alTerminar_)
                alTerminar_(fila);
        }
        std::lock_guard<std::mutex> cerrojo(cursoMutex_);
        enCurso_.erase(i);
    }
}

void Comprobacion::para() {
    std::lock_guard<std::mutex> cerrojo(cursoMutex_);
    parar_ = true;
}

std::vector<FilaServidor> Comprobacion::enCurso() const {
    std::lock_guard<std::mutex> cerrojo(cursoMutex_);
    std::vector<FilaServidor> filas;
    for (const auto& [indice, enMarcha] : enCurso_) {
        const auto& [fila, hechas] = enMarcha;
        filas.push_back(fila);
        for (std::size_t g = hechas; g < fila.pasadas.size(); ++g)
            filas.back().pasadas[g] = interrumpida(g == hechas);
        if (sondaTls_ && !fila.tls)
            filas.back().tls = login_shared::VersionesTls{
                {}, "La ejecución se interrumpió antes de comprobar las versiones de TLS."};
    }
    return filas;
}

void Comprobacion::lanza() {
    // One count per thread, and one held here until every thread that could be had is started.
    enMarcha_ = hilos_ + 1;
    const auto termina = [this](std::size_t cuantos) {
        if (enMarcha_.fetch_sub(cuantos) == cuantos && alAcabar_)
            alAcabar_();
    };
    trabajadores_.reserve(hilos_);
    try {
        for (std::size_t h = 0; h < hilos_; ++h)
            trabajadores_.emplace_back([this, termina] {
                trabaja();
                termina(1);
            });
    } catch (const std::system_error&) {
        // The system has no thread to spare: those started do the work, or this one.
        if (trabajadores_.empty())
            trabaja();
    }
    termina(hilos_ - trabajadores_.size() + 1);
}

void Comprobacion::espera() {
    for (std::thread& t : trabajadores_)
        if (t.joinable())
            t.join();
    trabajadores_.clear();
}

} // namespace lote
