#include "login_process/Relevo.h"

#include "login_process/SeguidorEtapas.h"
#include "login_shared/Resumen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace login_process {

using login_shared::Etapa;
using login_shared::Plazo;

namespace {

// The login is a few small packets each way, often two in a row (TLS
// flights): Nagle's algorithm would hold the second back for the peer's
// delayed ACK. db-lib sets the same on its own socket.
void sinNagle(int fd) {
    const int si = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
}

// Closing `fd` from now on sends a reset instead of a FIN: nothing unsent is delivered, and no
// TIME_WAIT is left on either side.
void cierreConReinicio(int fd) {
    const linger inmediato{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &inmediato, sizeof inmediato);
}

// Any local user can connect to a port on loopback: only a connection whose
// other end is a socket of this very process (db-lib's) is let through.
bool delMismoProceso(int aceptado) {
    sockaddr_storage par{}, local{};
    socklen_t lPar = sizeof par, lLocal = sizeof local;
    if (::getpeername(aceptado, reinterpret_cast<sockaddr*>(&par), &lPar) != 0 ||
        ::getsockname(aceptado, reinterpret_cast<sockaddr*>(&local), &lLocal) != 0)
        return false;
    // The other end of the connection has our address as its peer and its own as the one we saw.
    const auto esElOtroExtremo = [&](int fd) {
        sockaddr_storage suyoLocal{}, suyoPar{};
        socklen_t l1 = sizeof suyoLocal, l2 = sizeof suyoPar;
        return fd != aceptado && ::getsockname(fd, reinterpret_cast<sockaddr*>(&suyoLocal), &l1) == 0 &&
               l1 == lPar && std::memcmp(&suyoLocal, &par, l1) == 0 &&
               ::getpeername(fd, reinterpret_cast<sockaddr*>(&suyoPar), &l2) == 0 && l2 == lLocal &&
               std::memcmp(&suyoPar, &local, l2) == 0;
    };
    // db-lib opened its socket just before it connected, so it is almost always the one numbered
    // just below the accepted one: looked for there first, then among everything the process holds.
    for (int fd = aceptado - 1; fd >= 0 && fd >= aceptado - 4; --fd)
        if (esElOtroExtremo(fd))
            return true;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    bool propio = false;
    while (const dirent* entrada = ::readdir(dir)) {
        const int fd = std::atoi(entrada->d_name);
        if (fd != ::dirfd(dir) && esElOtroExtremo(fd)) {
            propio = true;
            break;
        }
    }
    ::closedir(dir);
    return propio;
}

constexpr std::chrono::milliseconds kEscalonado{250};
// Room for strangers' connections, so that db-lib's own is not held back while they are turned away.
constexpr int kColaEscucha = 64;
constexpr std::size_t kBufferMaximo = 1 << 16;

// The wall clock in nanoseconds, as the kernel stamps what arrives (SO_TIMESTAMPNS).
std::int64_t relojReal() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Receives into `datos` (MSG_PEEK to look only); `llegada` gets when the kernel
// received the last of those bytes, or 0 when it did not say.
ssize_t recibeConLlegada(int fd, char* datos, std::size_t n, int flags, std::int64_t& llegada) {
    iovec v{datos, n};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_iov = &v;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t r = ::recvmsg(fd, &m, flags);
    llegada = 0;
    for (cmsghdr* c = r > 0 ? CMSG_FIRSTHDR(&m) : nullptr; c; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            llegada = std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
        }
    return r;
}

// Binds `fd` to a port of loopback. The kernel's own choice (port 0) searches
// the ephemeral range for a free port and costs more the more ports are in
// use: with a few thousand servers' connections on the machine it was the
// largest cost of a login. A random port of that range, tried outright, is
// almost always free; the kernel chooses after a few taken ones.
bool enlazaEnLoopback(int fd, sockaddr_in& local) {
    static const std::pair<unsigned, unsigned> rango = [] {
        unsigned primero = 32768, ultimo = 60999;
        if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
            if (std::fscanf(f, "%u %u", &primero, &ultimo) != 2 || primero == 0 || ultimo < primero ||
                ultimo > 65535)
                primero = 32768, ultimo = 60999;
            std::fclose(f);
        }
        return std::pair<unsigned, unsigned>(primero, ultimo);
    }();
    const auto [desde, hasta] = rango;
    for (int intento = 0; intento < 8; ++intento) {
        unsigned azar = 0;
        if (::getrandom(&azar, sizeof azar, GRND_NONBLOCK) != sizeof azar)
            break;
        local.sin_port = htons(std::uint16_t(desde + azar % (hasta - desde + 1)));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            return true;
        if (errno != EADDRINUSE)
            return false;
    }
    local.sin_port = 0;
    return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

// Reads what the buffer has room for; false on EOF or a hard error (in `error`).
// `llegada`: when the kernel received what was read (0: unknown).
bool leeEn(int fd, std::string& buffer, int& error, SeguidorEtapas& seguidor, bool delCliente,
           const std::function<void(const char*, std::size_t)>& respuestaEnClaro, std::int64_t& llegada) {
    char trozo[16384];
    llegada = 0;
    const std::size_t cabe = std::min(sizeof trozo, kBufferMaximo - std::min(kBufferMaximo, buffer.size()));
    if (cabe == 0)
        return true;
    const ssize_t n = recibeConLlegada(fd, trozo, cabe, 0, llegada);
    if (n < 0) {
        error = errno;
        return error == EAGAIN || error == EINTR;
    }
    error = 0;
    if (n == 0)
        return false;
    buffer.append(trozo, std::size_t(n));
    if (delCliente) {
        seguidor.delCliente(trozo, std::size_t(n));
        ::explicit_bzero(trozo, std::size_t(n)); // LOGIN7 passes here: no copy left on the stack
    } else if (seguidor.delServidor(trozo, std::size_t(n)))
        respuestaEnClaro(trozo, std::size_t(n));
    return true;
}

bool escribeDe(int fd, std::string& buffer) {
    const ssize_t n = ::send(fd, buffer.data(), buffer.size(), MSG_NOSIGNAL);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    buffer.erase(0, std::size_t(n));
    return true;
}

// A delay of this side shorter than this is the ordinary cost of a busy machine, not a stall.
constexpr std::int64_t kDemoraEquipo = 250'000'000;

} // namespace

// Where the time of the login went, as the relay saw it: the server's turns
// (from the moment a request was all sent to when the kernel received the first
// of its answer), and how long this side's waits overslept what they asked
// for (the process was not running). Wall-clock nanoseconds, as the kernel
// stamps what arrives.
struct Relevo::Tiempos {
    std::int64_t inicio = relojReal();
    std::int64_t esperaServidorDesde = -1; // a request all sent, no answer yet
    std::int64_t servidor = 0;
    std::int64_t respuestaMaxima = -1;
    std::int64_t dormido = 0;

    void enviado() { esperaServidorDesde = relojReal(); }
    // Bytes of the server's, received by the kernel at `llegada` (0: unknown) and read now.
    void recibido(std::int64_t llegada) {
        const std::int64_t ahora = relojReal();
        if (llegada <= 0 || llegada > ahora)
            llegada = ahora;
        if (esperaServidorDesde >= 0) {
            const std::int64_t turno = std::max<std::int64_t>(0, llegada - esperaServidorDesde);
            servidor += turno;
            respuestaMaxima = std::max(respuestaMaxima, turno);
            esperaServidorDesde = -1;
        }
    }
};

Relevo::Relevo(std::vector<DireccionIp> destinos, std::uint16_t puerto, Plazo plazo,
               std::function<void(Etapa)> alCambiarEtapa)
    : destinos_(std::move(destinos)), puerto_(puerto), plazo_(plazo),
      alCambiarEtapa_(std::move(alCambiarEtapa)) {
    escucha_ = Descriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t longitud = sizeof local;
    int despertador[2];
    if (escucha_.fd() < 0 || !enlazaEnLoopback(escucha_.fd(), local) ||
        ::listen(escucha_.fd(), kColaEscucha) != 0 ||
        ::getsockname(escucha_.fd(), reinterpret_cast<sockaddr*>(&local), &longitud) != 0 ||
        ::pipe2(despertador, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "relevo");
    despertador_[0] = Descriptor(despertador[0]);
    despertador_[1] = Descriptor(despertador[1]);
    puertoLocal_ = ntohs(local.sin_port);
    hilo_.emplace([this] { bucle(); });
}

Relevo::~Relevo() {
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        parar_ = true;
    }
    const char c = 0;
    [[maybe_unused]] auto n = ::write(despertador_[1].fd(), &c, 1);
    hilo_.reset();
}

void Relevo::liberaPlazo() {
    // Not woken for it: the relay sees it at its next turn (the login's next bytes, its close, or the
    // deadline it was waiting for, which then no longer applies), and a login checked and closed at
    // once would pay a wake-up for nothing.
    std::lock_guard<std::mutex> cerrojo(mutex_);
    liberado_ = true;
}

void Relevo::alEnviarLogin(std::function<void()> aviso) {
    std::lock_guard<std::mutex> cerrojo(avisoMutex_);
    alEnviarLogin_ = std::move(aviso);
}

Relevo::Resultado Relevo::resultado() const {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    Resultado r = resultado_;
    r.versionTdsServidor = respuesta_.versionTds();
    r.mensajes = respuesta_.mensajes();
    r.erroresOmitidos = respuesta_.erroresOmitidos();
    r.finConError = respuesta_.finConError();
    return r;
}

void Relevo::cambiaEtapa(Etapa etapa) {
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        if (resultado_.etapa == etapa)
            return;
        resultado_.etapa = etapa;
    }
    if (alCambiarEtapa_)
        alCambiarEtapa_(etapa);
}

void Relevo::bucle() {
    struct Intento {
        Descriptor fd;
        DireccionIp destino;
    };
    std::vector<Intento> intentos;
    std::size_t siguiente = 0;
    auto ultimoInicio = Plazo::Reloj::now();
    Descriptor cliente;
    Descriptor servidor;
    std::string aServidor, aCliente;
    bool finCliente = false, finServidor = false, cerradoHaciaServidor = false, cerradoHaciaCliente = false;
    SeguidorEtapas seguidor;
    Tiempos tiempos;
    bool loginEnviado = false;

    const auto anotaErrorTcp = [this](int error) {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        resultado_.erroresTcp.push_back(error);
    };
    // Starts the next address; addresses that fail at once are skipped.
    const auto lanzaIntento = [&] {
        while (siguiente < destinos_.size()) {
            DireccionIp d = destinos_[siguiente++];
            if (d.direccion.ss_family == AF_INET)
                reinterpret_cast<sockaddr_in&>(d.direccion).sin_port = htons(puerto_);
            else
                reinterpret_cast<sockaddr_in6&>(d.direccion).sin6_port = htons(puerto_);
            Descriptor fd(::socket(d.direccion.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (fd.fd() < 0) {
                anotaErrorTcp(errno);
                continue;
            }
            // The kernel stamps when each of the server's answers arrives: a stall of this side
            // is then told from a slow server.
            const int si = 1;
            ::setsockopt(fd.fd(), SOL_SOCKET, SO_TIMESTAMPNS, &si, sizeof si);
            if (::connect(fd.fd(), reinterpret_cast<sockaddr*>(&d.direccion), d.longitud) == 0 ||
                errno == EINPROGRESS) {
                intentos.push_back({std::move(fd), d});
                ultimoInicio = Plazo::Reloj::now();
                return;
            }
            anotaErrorTcp(errno);
        }
    };

    for (;;) {
        bool liberado = false;
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            if (parar_)
                break;
            liberado = liberado_;
        }
        if (liberado)
            escucha_.cierra(); // db-lib is logged in and connects no more
        if (!liberado && plazo_.agotado()) {
            std::vector<int> pendientes;
            for (const Intento& i : intentos)
                pendientes.push_back(i.fd.fd());
            // With db-lib's side full, the relay stops reading the server on purpose: what waits then is no
            // delay.
            juzgaRetraso(tiempos, servidor.fd(), pendientes, aCliente.size() < kBufferMaximo);
            std::lock_guard<std::mutex> cerrojo(mutex_);
            resultado_.agotado = true;
            break;
        }
        if (servidor.fd() < 0) {
            const bool toca = intentos.empty() || Plazo::Reloj::now() - ultimoInicio >= kEscalonado;
            if (siguiente < destinos_.size() && toca) {
                lanzaIntento();
                continue;
            }
            if (intentos.empty())
                break; // every address failed
        }
        if (finCliente && (finServidor || servidor.fd() < 0))
            break;

        std::vector<pollfd> fds;
        fds.push_back({despertador_[0].fd(), POLLIN, 0});
        // Kept open until dbopen has returned: no one else can take the port db-lib was told to use.
        fds.push_back({escucha_.fd(), POLLIN, 0});
        short eventosCliente = 0, eventosServidor = 0;
        if (!finCliente && aServidor.size() < kBufferMaximo)
            eventosCliente |= POLLIN;
        if (!aCliente.empty())
            eventosCliente |= POLLOUT;
        if (!finServidor && aCliente.size() < kBufferMaximo)
            eventosServidor |= POLLIN;
        if (!aServidor.empty())
            eventosServidor |= POLLOUT;
        fds.push_back({cliente.fd(), eventosCliente, 0});
        fds.push_back({servidor.fd(), eventosServidor, 0});
        for (const Intento& i : intentos)
            fds.push_back({i.fd.fd(), POLLOUT, 0});

        long long espera = -1;
        if (!liberado && !plazo_.ilimitado())
            espera = plazo_.restante().count();
        if (servidor.fd() < 0 && siguiente < destinos_.size()) {
            const auto hastaSiguiente = std::chrono::duration_cast<std::chrono::milliseconds>(
                ultimoInicio + kEscalonado - Plazo::Reloj::now());
            const long long ms = std::max<long long>(0, hastaSiguiente.count() + 1);
            espera = espera < 0 ? ms : std::min(espera, ms);
        }
        const std::int64_t antesDeEsperar = relojReal();
        if (::poll(fds.data(), fds.size(), int(espera)) < 0 && errno != EINTR)
            break;
        // Woken well after it asked: this process was not running (stopped, or no processor free).
        if (espera >= 0) {
            const std::int64_t tarde = relojReal() - antesDeEsperar - espera * 1'000'000;
            if (tarde > 0)
                tiempos.dormido += tarde;
        }

        if (fds[0].revents) {
            char basura[64];
            while (::read(despertador_[0].fd(), basura, sizeof basura) > 0) {
            }
        }
        if (fds[1].revents)
            aceptaCliente(cliente);
        for (std::size_t k = 4; k < fds.size(); ++k) {
            if (!fds[k].revents)
                continue;
            int error = 0;
            socklen_t l = sizeof error;
            ::getsockopt(fds[k].fd, SOL_SOCKET, SO_ERROR, &error, &l);
            auto it = std::find_if(intentos.begin(), intentos.end(),
                                   [&](const Intento& i) { return i.fd.fd() == fds[k].fd; });
            if (error == 0 && servidor.fd() < 0) {
                servidor = std::move(it->fd);
                sinNagle(servidor.fd());
                {
                    std::lock_guard<std::mutex> cerrojo(mutex_);
                    resultado_.conectado = true;
                    resultado_.direccion = textoDireccion(it->destino);
                    resultado_.extremo = it->destino;
                }
                intentos.erase(it);
                cambiaEtapa(seguidor.etapa());
            } else {
                if (error != 0)
                    anotaErrorTcp(error);
                intentos.erase(it);
            }
        }
        if (servidor.fd() >= 0)
            intentos.clear();

        int error = 0;
        if (cliente.fd() >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) && !finCliente) {
            std::int64_t llegada = 0;
            finCliente = !leeEn(cliente.fd(), aServidor, error, seguidor, true, {}, llegada);
            if (servidor.fd() >= 0)
                cambiaEtapa(seguidor.etapa());
        }
        if (servidor.fd() >= 0 && (fds[3].revents & (POLLIN | POLLHUP | POLLERR)) && !finServidor) {
            std::int64_t llegada = 0;
            const std::size_t antes = aCliente.size();
            finServidor = !leeEn(
                servidor.fd(), aCliente, error, seguidor, false,
                [this](const char* d, std::size_t m) {
                    std::lock_guard<std::mutex> cerrojo(mutex_);
                    respuesta_.recibe(d, m);
                },
                llegada);
            if (aCliente.size() > antes)
                tiempos.recibido(llegada);
            cambiaEtapa(seguidor.etapa());
            {
                std::lock_guard<std::mutex> cerrojo(mutex_);
                resultado_.alertaTls = seguidor.alertaTls();
                resultado_.loginCifrado = seguidor.loginCifrado();
                resultado_.sesionCifrada = seguidor.sesionCifrada();
                resultado_.versionTls = seguidor.versionTls();
                // Copied only while it grows: it stops at the end of the handshake.
                if (resultado_.handshakeServidor.size() != seguidor.handshakeDelServidor().size())
                    resultado_.handshakeServidor = seguidor.handshakeDelServidor();
                resultado_.primerosServidor = seguidor.primerosDelServidor();
                if (resultado_.versionServidor.empty())
                    resultado_.versionServidor = seguidor.versionServidor();
            }
            if (finServidor) {
                std::lock_guard<std::mutex> cerrojo(mutex_);
                // Closing after db-lib gave up is only the server's answer to that.
                if (!liberado_ && !finCliente)
                    resultado_.cierre =
                        error == ECONNRESET ? Cierre::ServidorReinicio : Cierre::ServidorCerro;
            }
            if (finServidor && error != 0 && cliente.fd() >= 0) {
                // Passes the reset on, so that db-lib sees what the server did.
                cierreConReinicio(cliente.fd());
                break;
            }
        }
        if (cliente.fd() >= 0 && !aCliente.empty() && !escribeDe(cliente.fd(), aCliente))
            break;
        if (servidor.fd() >= 0 && !aServidor.empty()) {
            if (!escribeDe(servidor.fd(), aServidor))
                break;
            if (aServidor.empty())
                tiempos.enviado();
            // LOGIN7 has gone: the password's copies go too, while db-lib waits for the reply.
            if (aServidor.empty() && !loginEnviado && seguidor.etapa() == Etapa::RespuestaLogin) {
                loginEnviado = true;
                aServidor.resize(aServidor.capacity());
                ::explicit_bzero(aServidor.data(), aServidor.size());
                aServidor.clear();
                std::lock_guard<std::mutex> cerrojo(avisoMutex_);
                if (alEnviarLogin_)
                    alEnviarLogin_();
            }
        }
        if (finCliente && aServidor.empty() && servidor.fd() >= 0 && !cerradoHaciaServidor) {
            ::shutdown(servidor.fd(), SHUT_WR);
            cerradoHaciaServidor = true;
        }
        if (finServidor && aCliente.empty() && cliente.fd() >= 0 && !cerradoHaciaCliente) {
            ::shutdown(cliente.fd(), SHUT_WR);
            cerradoHaciaCliente = true;
        }
    }

    intentos.clear();
    servidor.cierra();
    // db-lib is done with its connection (it closed it, or the login is being torn down after it
    // did): a reset ends it on both sides at once, where a FIN would leave db-lib's port in
    // TIME_WAIT for a minute (thousands in an estate run, for every later connection on the
    // machine to search past). At the deadline db-lib still reads, and is told as before.
    bool parando = false;
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        parando = parar_;
    }
    if ((finCliente || parando) && cliente.fd() >= 0)
        cierreConReinicio(cliente.fd());
    cliente.cierra();
    rechazaHastaParar();
}

void Relevo::juzgaRetraso(Tiempos& t, int servidor, const std::vector<int>& intentos, bool leyendoServidor) {
    const std::int64_t ahora = relojReal();
    // What this side had been given and had not taken: the server's bytes waiting unread
    // (their arrival ends the server's turn), or a connection the server took, never looked at.
    bool pendiente = false;
    if (servidor >= 0 && leyendoServidor) {
        char byte;
        std::int64_t llegada = 0;
        if (recibeConLlegada(servidor, &byte, 1, MSG_PEEK | MSG_DONTWAIT, llegada) > 0 && llegada > 0 &&
            ahora - llegada >= kDemoraEquipo) {
            pendiente = true;
            t.recibido(llegada);
        }
    } else if (t.dormido >= kDemoraEquipo) {
        for (int fd : intentos) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t l = sizeof error;
            if (::poll(&p, 1, 0) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &l) == 0 &&
                error == 0)
                pendiente = true;
        }
    }
    // A request still unanswered is the server's time up to now.
    const std::int64_t turnoAbierto = t.esperaServidorDesde >= 0 ? ahora - t.esperaServidorDesde : 0;
    const std::int64_t total = ahora - t.inicio;
    const bool servidorBreve = 2 * (t.servidor + turnoAbierto) < total;
    // Most of the time was not the server's, and either what it sent lay here unread or, with
    // nothing asked of it, this process slept through its own waits.
    const bool local =
        servidorBreve && (pendiente || (servidor >= 0 && turnoAbierto == 0 && t.dormido >= kDemoraEquipo));
    std::lock_guard<std::mutex> cerrojo(mutex_);
    resultado_.retrasoLocal = local;
    if (t.respuestaMaxima >= 0)
        resultado_.respuestaMaximaServidor =
            std::chrono::milliseconds((t.respuestaMaxima + 999'999) / 1'000'000);
}

void Relevo::rechazaHastaParar() {
    // The port stays bound while db-lib may still be inside dbopen, or a
    // stranger could take it and be told the login; whoever connects now,
    // db-lib included, is reset at once, as a closed port would refuse it.
    for (;;) {
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            if (parar_ || liberado_)
                return;
        }
        pollfd fds[2] = {{despertador_[0].fd(), POLLIN, 0}, {escucha_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents) {
            char basura[64];
            while (::read(despertador_[0].fd(), basura, sizeof basura) > 0) {
            }
        }
        for (int fd;
             fds[1].revents && (fd = ::accept4(escucha_.fd(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            cierreConReinicio(fd);
            ::close(fd);
        }
    }
}

void Relevo::aceptaCliente(Descriptor& cliente) {
    for (;;) {
        const int fd = ::accept4(escucha_.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        // One login, one connection: anything else is closed without a word.
        if (cliente.fd() < 0 && delMismoProceso(fd)) {
            cliente = Descriptor(fd);
            sinNagle(cliente.fd());
        } else {
            // Reset, so that no TIME_WAIT of ours lingers on the port.
            cierreConReinicio(fd);
            ::close(fd);
            std::lock_guard<std::mutex> cerrojo(mutex_);
            ++resultado_.extranosRechazados;
        }
    }
}

} // namespace login_process
