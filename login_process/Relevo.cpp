#include "login_process/Relevo.h"

#include "login_shared/Descriptor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

namespace login_process {

using login_shared::Descriptor;
using login_shared::Etapa;
using login_shared::Plazo;

namespace {

std::atomic<Relevo*> relevoEnCurso{nullptr};
std::atomic<int> descriptorEnCurso{-1};
std::atomic<std::uint16_t> puertoEnUso{0};

// The login is a few small packets each way, often two in a row (TLS
// flights): Nagle's algorithm would hold the second back for the peer's
// delayed ACK. db-lib sets the same on the socket it made.
void sinNagle(int fd) {
    const int si = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
}

// The relay's own connects and waits go straight to the kernel: the
// executable passes the C library's connect and poll of this process to the
// relay, and these are not db-lib's.
int conectaDirecto(int fd, const sockaddr* direccion, socklen_t longitud) {
    return int(::syscall(SYS_connect, fd, direccion, longitud));
}

int esperaDirecta(pollfd* fds, nfds_t n, int milisegundos) {
    if (milisegundos < 0)
        return ::ppoll(fds, n, nullptr, nullptr);
    const timespec t{milisegundos / 1000, long(milisegundos % 1000) * 1'000'000};
    return ::ppoll(fds, n, &t, nullptr);
}

// db-lib waits out its whole timeout after a connect that fails at once: it is
// given instead a connection that has already ended, and fails at its first
// write or read, as when a server closes.
int conexionAcabada(int fd) {
    int par[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, par) != 0)
        return -1;
    ::close(par[1]);
    const int r = ::dup3(par[0], fd, O_CLOEXEC);
    ::close(par[0]);
    return r < 0 ? -1 : 0;
}

constexpr std::chrono::milliseconds kEscalonado{250};

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

// A delay of this side shorter than this is the ordinary cost of a busy machine, not a stall.
constexpr std::int64_t kDemoraEquipo = 250'000'000;

} // namespace

// Where the time of the login went: the server's turns (from the moment a
// request was sent to when the kernel received the first of its answer), and
// how long this side's waits overslept what they asked for (the process was
// not running). Wall-clock nanoseconds, as the kernel stamps what arrives.
struct Relevo::Tiempos {
    std::int64_t inicio = relojReal();
    std::int64_t esperaServidorDesde = -1; // a request sent, no answer yet
    std::int64_t servidor = 0;
    std::int64_t respuestaMaxima = -1;
    std::int64_t dormido = 0;
    bool respondiendo = false; // the server has sent something since the last request

    void enviado() {
        esperaServidorDesde = relojReal();
        respondiendo = false;
    }
    // Bytes of the server's, received by the kernel at `llegada` (0: unknown) and read now.
    void recibido(std::int64_t llegada) {
        const std::int64_t ahora = relojReal();
        if (llegada <= 0 || llegada > ahora)
            llegada = ahora;
        respondiendo = true;
        if (esperaServidorDesde >= 0) {
            const std::int64_t turno = std::max<std::int64_t>(0, llegada - esperaServidorDesde);
            servidor += turno;
            respuestaMaxima = std::max(respuestaMaxima, turno);
            esperaServidorDesde = -1;
        }
    }
    // A wait of `pedido` ms that began at `antes` has ended.
    void despierto(std::int64_t antes, int pedido) {
        const std::int64_t tarde = relojReal() - antes - std::int64_t(pedido) * 1'000'000;
        if (pedido >= 0 && tarde > 0)
            dormido += tarde;
    }
};

Relevo::Relevo(std::vector<DireccionIp> destinos, std::uint16_t puerto, Plazo plazo,
               std::function<void(Etapa)> alCambiarEtapa)
    : destinos_(std::move(destinos)), puerto_(puerto), plazo_(plazo),
      alCambiarEtapa_(std::move(alCambiarEtapa)), tiempos_(std::make_unique<Tiempos>()) {
    puertoLocal();
    Relevo* ninguno = nullptr;
    if (!relevoEnCurso.compare_exchange_strong(ninguno, this))
        throw std::logic_error("otro relevo en curso en este proceso");
}

Relevo::~Relevo() {
    // Whatever db-lib still holds is no longer followed: it ends.
    if (descriptorDbLib_ >= 0) {
        descriptorEnCurso.store(-1);
        ::shutdown(descriptorDbLib_, SHUT_RDWR);
    }
    Relevo* yo = this;
    relevoEnCurso.compare_exchange_strong(yo, nullptr);
}

// Bound for the life of the process and never listened on: no one else can
// take the port db-lib is told to use, and a connect to it that did not come
// to the relay is refused. Forked login processes share it.
std::uint16_t Relevo::puertoLocal() {
    if (const std::uint16_t puerto = puertoEnUso.load())
        return puerto;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t longitud = sizeof local;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &longitud) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::system_error(error, std::generic_category(), "relevo");
    }
    puertoEnUso.store(ntohs(local.sin_port));
    return puertoEnUso.load();
}

void Relevo::liberaPlazo() {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    liberado_ = true;
}

void Relevo::alEnviarLogin(std::function<void()> aviso) {
    alEnviarLogin_ = std::move(aviso);
}

void Relevo::juzgaAntesDelLogin(std::function<JuicioCertificado(const std::string&)> juez) {
    juez_ = std::move(juez);
}

Relevo::Resultado Relevo::resultado() const {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    Resultado r = resultado_;
    r.versionTdsServidor = respuesta_.versionTds();
    r.mensajes = respuesta_.mensajes();
    r.erroresOmitidos = respuesta_.erroresOmitidos();
    r.finConError = respuesta_.finConError();
    r.respuesta = respuesta_.estado();
    r.motivoRespuesta = respuesta_.motivo();
    return r;
}

Relevo* Relevo::deDireccion(const sockaddr* direccion, socklen_t longitud) {
    Relevo* relevo = relevoEnCurso.load();
    if (!relevo || !direccion || direccion->sa_family != AF_INET || longitud < socklen_t(sizeof(sockaddr_in)))
        return nullptr;
    sockaddr_in a{};
    std::memcpy(&a, direccion, sizeof a);
    return a.sin_addr.s_addr == htonl(INADDR_LOOPBACK) && ntohs(a.sin_port) == puertoEnUso.load() ? relevo
                                                                                                  : nullptr;
}

Relevo* Relevo::conConexion() {
    return descriptorEnCurso.load(std::memory_order_relaxed) >= 0 ? relevoEnCurso.load() : nullptr;
}

Relevo* Relevo::deDescriptor(int fd) {
    return fd >= 0 && fd == descriptorEnCurso.load(std::memory_order_relaxed) ? relevoEnCurso.load()
                                                                              : nullptr;
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

bool Relevo::plazoVencido() const {
    std::lock_guard<std::mutex> cerrojo(mutex_);
    return !liberado_ && !resultado_.agotado && plazo_.agotado();
}

int Relevo::conecta(int fd) {
    if (intentado_)
        return conexionAcabada(fd);
    intentado_ = true;
    struct Intento {
        Descriptor fd;
        DireccionIp destino;
    };
    std::vector<Intento> intentos;
    std::size_t siguiente = 0;
    auto ultimoInicio = Plazo::Reloj::now();
    const auto anotaErrorTcp = [&](int error) {
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
            Descriptor intento(
                ::socket(d.direccion.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (intento.fd() < 0) {
                anotaErrorTcp(errno);
                continue;
            }
            // The kernel stamps when each of the server's answers arrives: a stall of this side
            // is then told from a slow server.
            const int si = 1;
            ::setsockopt(intento.fd(), SOL_SOCKET, SO_TIMESTAMPNS, &si, sizeof si);
            if (conectaDirecto(intento.fd(), reinterpret_cast<sockaddr*>(&d.direccion), d.longitud) == 0 ||
                errno == EINPROGRESS) {
                intentos.push_back({std::move(intento), d});
                ultimoInicio = Plazo::Reloj::now();
                return;
            }
            anotaErrorTcp(errno);
        }
    };

    for (;;) {
        if (plazoVencido()) {
            std::vector<int> pendientes;
            for (const Intento& i : intentos)
                pendientes.push_back(i.fd.fd());
            venceElPlazo(pendientes);
            return conexionAcabada(fd);
        }
        const bool toca = intentos.empty() || Plazo::Reloj::now() - ultimoInicio >= kEscalonado;
        if (siguiente < destinos_.size() && toca) {
            lanzaIntento();
            continue;
        }
        if (intentos.empty())
            return conexionAcabada(fd); // every address failed

        std::vector<pollfd> fds;
        for (const Intento& i : intentos)
            fds.push_back({i.fd.fd(), POLLOUT, 0});
        int espera = plazo_.ilimitado() ? -1 : int(plazo_.restante().count());
        if (siguiente < destinos_.size()) {
            const auto hastaSiguiente = std::chrono::duration_cast<std::chrono::milliseconds>(
                ultimoInicio + kEscalonado - Plazo::Reloj::now());
            const int ms = int(std::max<long long>(0, hastaSiguiente.count() + 1));
            espera = espera < 0 ? ms : std::min(espera, ms);
        }
        const std::int64_t antes = relojReal();
        if (esperaDirecta(fds.data(), fds.size(), espera) < 0 && errno != EINTR)
            return conexionAcabada(fd);
        tiempos_->despierto(antes, espera);

        for (const pollfd& p : fds) {
            if (!p.revents)
                continue;
            int error = 0;
            socklen_t l = sizeof error;
            ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &l);
            auto it = std::find_if(intentos.begin(), intentos.end(),
                                   [&](const Intento& i) { return i.fd.fd() == p.fd; });
            if (error != 0) {
                anotaErrorTcp(error);
                intentos.erase(it);
                continue;
            }
            // The server's connection takes the place of db-lib's socket.
            sinNagle(it->fd.fd());
            if (::dup3(it->fd.fd(), fd, O_CLOEXEC) < 0)
                return conexionAcabada(fd);
            {
                std::lock_guard<std::mutex> cerrojo(mutex_);
                resultado_.conectado = true;
                resultado_.direccion = textoDireccion(it->destino);
                resultado_.extremo = it->destino;
            }
            descriptorDbLib_ = fd;
            descriptorEnCurso.store(fd);
            cambiaEtapa(seguidor_.etapa());
            return 0;
        }
    }
}

bool Relevo::terminado() {
    if (plazoVencido())
        venceElPlazo({});
    std::lock_guard<std::mutex> cerrojo(mutex_);
    return resultado_.agotado;
}

ssize_t Relevo::envia(int fd, const void* datos, std::size_t n, int flags) {
    if (terminado()) {
        errno = EPIPE;
        return -1;
    }
    // A client that checks the certificate never sends the login to a server whose certificate it refuses.
    if (juez_ && !loginEnviado_ && seguidor_.abreLoginCifrado(static_cast<const char*>(datos), n)) {
        JuicioCertificado juicio = juez_(seguidor_.handshakeDelServidor());
        juez_ = nullptr;
        if (!juicio.causa) {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            resultado_.certificadoAceptado = std::move(juicio);
        } else {
            {
                std::lock_guard<std::mutex> cerrojo(mutex_);
                resultado_.certificadoRechazado = std::move(juicio);
            }
            ::shutdown(fd, SHUT_RDWR);
            errno = EPIPE;
            return -1;
        }
    }
    const ssize_t r = ::sendto(fd, datos, n, flags, nullptr, 0);
    if (r < 0) {
        // A server that reset the connection before db-lib's first read is seen here.
        const int error = errno;
        anotaCierre(error);
        errno = error;
    }
    if (r <= 0)
        return r;
    tiempos_->enviado();
    seguidor_.delCliente(static_cast<const char*>(datos), std::size_t(r));
    cambiaEtapa(seguidor_.etapa());
    // After LOGIN7, what the client sends once the server's SSPI token came is the answer to it:
    // NTLM's AUTHENTICATE, which the domain checks. Anything sent then counts, so as never to miss one.
    if (loginEnviado_) {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        if (respuesta_.sspi() && !liberado_)
            resultado_.pruebaEnviada = true;
    }
    // LOGIN7 has gone: the password's copies go too, while db-lib waits for the reply.
    if (!loginEnviado_ && seguidor_.etapa() == Etapa::RespuestaLogin) {
        loginEnviado_ = true;
        if (alEnviarLogin_)
            alEnviarLogin_();
    }
    return r;
}

std::string Relevo::primerosDelServidor(int fd) const {
    std::string primeros = seguidor_.primerosDelServidor();
    // db-lib stops reading at the first bytes that are not TDS; those that came with them, already
    // here, say better what answered.
    if (primeros.size() < SeguidorEtapas::kPrimerosGuardados && !primeros.empty() && primeros[0] != '\x04') {
        char mas[SeguidorEtapas::kPrimerosGuardados];
        std::int64_t llegada = 0;
        const ssize_t n =
            recibeConLlegada(fd, mas, sizeof mas - primeros.size(), MSG_PEEK | MSG_DONTWAIT, llegada);
        if (n > 0)
            primeros.append(mas, std::size_t(n));
    }
    return primeros;
}

ssize_t Relevo::recibe(int fd, void* datos, std::size_t n, int flags) {
    // Whatever came too late is not read: the login ended at its deadline.
    if (terminado())
        return 0;
    std::int64_t llegada = 0;
    char* recibidos = static_cast<char*>(datos);
    const ssize_t r = recibeConLlegada(fd, recibidos, n, flags, llegada);
    const int error = errno;
    if (flags & MSG_PEEK)
        return r;
    if (r > 0) {
        tiempos_->recibido(llegada);
        const bool enClaro = seguidor_.delServidor(recibidos, std::size_t(r));
        cambiaEtapa(seguidor_.etapa());
        std::lock_guard<std::mutex> cerrojo(mutex_);
        if (enClaro)
            respuesta_.recibe(recibidos, std::size_t(r));
        resultado_.alertaTls = seguidor_.alertaTls();
        resultado_.loginCifrado = seguidor_.loginCifrado();
        resultado_.sesionCifrada = seguidor_.sesionCifrada();
        resultado_.versionTls = seguidor_.versionTls();
        // Copied only while it grows: it stops at the end of the handshake.
        if (resultado_.handshakeServidor.size() != seguidor_.handshakeDelServidor().size())
            resultado_.handshakeServidor = seguidor_.handshakeDelServidor();
        if (resultado_.primerosServidor.size() < SeguidorEtapas::kPrimerosGuardados)
            resultado_.primerosServidor = primerosDelServidor(fd);
        if (resultado_.versionServidor.empty())
            resultado_.versionServidor = seguidor_.versionServidor();
    } else {
        anotaCierre(r == 0 ? 0 : error);
    }
    errno = error;
    return r;
}

void Relevo::descifrado(const char* datos, std::size_t n) {
    if (n == 0 || !seguidor_.sesionCifrada())
        return;
    std::lock_guard<std::mutex> cerrojo(mutex_);
    if (!liberado_ && !resultado_.agotado)
        respuesta_.recibe(datos, n);
}

void Relevo::anotaCierre(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
        return;
    std::lock_guard<std::mutex> cerrojo(mutex_);
    // Its close once logged in, or at the deadline, is not the server's doing.
    if (!liberado_ && !resultado_.agotado && resultado_.cierre == Cierre::Ninguno)
        resultado_.cierre = error == ECONNRESET ? Cierre::ServidorReinicio : Cierre::ServidorCerro;
}

int Relevo::espera(pollfd* fds, nfds_t n, int milisegundos) {
    bool conPlazo = false;
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        conPlazo = !liberado_ && !resultado_.agotado && !plazo_.ilimitado();
    }
    if (!conPlazo)
        return anotaError(fds, n, esperaDirecta(fds, n, milisegundos));
    const int restante = int(plazo_.restante().count());
    const int espera = milisegundos < 0 || milisegundos > restante ? restante : milisegundos;
    const std::int64_t antes = relojReal();
    int r = esperaDirecta(fds, n, espera);
    const int error = errno;
    tiempos_->despierto(antes, espera);
    if (r == 0 && plazoVencido()) {
        venceElPlazo({});
        return esperaDirecta(fds, n, 0);
    }
    errno = error;
    return anotaError(fds, n, r);
}

int Relevo::anotaError(const pollfd* fds, nfds_t n, int r) {
    // db-lib takes an error on the connection for a reset, and reads nothing: it is read here.
    const int error = errno;
    for (nfds_t i = 0; r > 0 && i < n; ++i)
        if (fds[i].fd == descriptorDbLib_ && (fds[i].revents & POLLERR)) {
            char byte;
            std::int64_t llegada = 0;
            if (recibeConLlegada(descriptorDbLib_, &byte, 1, MSG_PEEK | MSG_DONTWAIT, llegada) < 0)
                anotaCierre(errno);
        }
    errno = error;
    return r;
}

void Relevo::cierra(int fd) {
    if (fd != descriptorDbLib_)
        return;
    descriptorDbLib_ = -1;
    descriptorEnCurso.store(-1);
}

void Relevo::venceElPlazo(const std::vector<int>& intentos) {
    Tiempos& t = *tiempos_;
    const int servidor = descriptorDbLib_;
    const std::int64_t ahora = relojReal();
    // What this side had been given and had not taken: the server's bytes waiting unread
    // (their arrival ends the server's turn), or a connection the server took, never looked at.
    bool pendiente = false;
    if (servidor >= 0) {
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
            if (esperaDirecta(&p, 1, 0) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &l) == 0 &&
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
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        resultado_.agotado = true;
        resultado_.retrasoLocal = local;
        resultado_.respondiendo = t.respondiendo;
        if (t.respuestaMaxima >= 0)
            resultado_.respuestaMaximaServidor =
                std::chrono::milliseconds((t.respuestaMaxima + 999'999) / 1'000'000);
    }
    // db-lib's wait ends, its read finds the end, and the server is told the login is over.
    if (servidor >= 0)
        ::shutdown(servidor, SHUT_RDWR);
}

} // namespace login_process
