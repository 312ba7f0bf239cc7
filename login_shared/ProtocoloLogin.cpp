#include "login_shared/ProtocoloLogin.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace login_shared {

namespace {

constexpr std::uint32_t kMensajeMaximo = 1 << 20;

class Escritor {
public:
    void numero(std::uint64_t n) {
        for (int i = 0; i < 8; ++i)
            datos_.push_back(char((n >> (8 * i)) & 0xFF));
    }
    void texto(const std::string& s) {
        numero(s.size());
        datos_ += s;
    }
    std::string datos_;
};

class Lector {
public:
    explicit Lector(const std::string& datos) : datos_(datos) {}
    std::uint64_t numero() {
        if (datos_.size() - pos_ < 8)
            throw std::runtime_error("petición de login truncada");
        std::uint64_t n = 0;
        for (int i = 0; i < 8; ++i)
            n |= std::uint64_t(static_cast<unsigned char>(datos_[pos_ + i])) << (8 * i);
        pos_ += 8;
        return n;
    }
    std::string texto() {
        const std::uint64_t n = numero();
        if (n > datos_.size() - pos_)
            throw std::runtime_error("petición de login truncada");
        std::string s = datos_.substr(pos_, n);
        pos_ += n;
        return s;
    }

private:
    const std::string& datos_;
    std::size_t pos_ = 0;
};

bool escribeTodo(int fd, const char* datos, std::size_t n) {
    while (n > 0) {
        const ssize_t escritos = ::send(fd, datos, n, MSG_NOSIGNAL);
        if (escritos < 0 && errno == EINTR)
            continue;
        if (escritos <= 0)
            return false;
        datos += escritos;
        n -= std::size_t(escritos);
    }
    return true;
}

// One buffer and room for one descriptor in its control data: the message
// both directions of the descriptor passing use.
struct MensajeUnix {
    iovec datos{};
    // Room for two: a login's channel and the open's working directory.
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr m{};

    MensajeUnix(void* buffer, std::size_t n) : datos{buffer, n} {
        m.msg_iov = &datos;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
    }
    MensajeUnix(const MensajeUnix&) = delete;
    MensajeUnix& operator=(const MensajeUnix&) = delete;
};

} // namespace

void borraSecreto(std::string& secreto) noexcept {
    // Up to its capacity: a shorter secret may have left bytes beyond its size.
    secreto.resize(secreto.capacity());
    ::explicit_bzero(secreto.data(), secreto.size());
    secreto.clear();
}

std::array<std::pair<const char*, std::string*>, 5> valoresConNombre(Credenciales& c) {
    return {{{"el usuario", &c.usuario},
             {"la contraseña", &c.password},
             {"la base de datos", &c.baseDatos},
             {"el nombre de la aplicación", &c.aplicacion},
             {"el nombre del equipo", &c.estacion}}};
}

PeticionLogin peticionDeGeneracion(const Proveedor& proveedor) {
    PeticionLogin p;
    p.versionDbLib = proveedor.versionDbLib;
    p.versionTds = proveedor.versionTds;
    p.producto = proveedor.producto;
    p.tlsMinimo = proveedor.tlsMinimo;
    p.tlsMaximo = proveedor.tlsMaximo;
    p.prioridadTls = prioridadTls(proveedor);
    p.suitesTls = suitesTls(proveedor);
    return p;
}

std::string serializa(const PeticionLogin& p) {
    Escritor e;
    // All the room at once: growing after the password would free a copy of it unwiped.
    std::size_t textos = 0;
    for (const std::string* t : {&p.versionTds, &p.producto, &p.prioridadTls, &p.host, &p.instancia,
                                 &p.credenciales.usuario, &p.credenciales.password, &p.credenciales.baseDatos,
                                 &p.credenciales.aplicacion, &p.credenciales.estacion})
        textos += 8 + t->size();
    e.datos_.reserve(textos + 8 * (p.suitesTls.size() + 10));
    e.numero(std::uint64_t(p.versionDbLib));
    e.texto(p.versionTds);
    e.texto(p.producto);
    e.numero(std::uint64_t(p.tlsMinimo));
    e.numero(std::uint64_t(p.tlsMaximo));
    e.texto(p.prioridadTls);
    e.numero(p.suitesTls.size());
    for (std::uint16_t s : p.suitesTls)
        e.numero(s);
    e.texto(p.host);
    e.numero(p.puerto);
    e.texto(p.instancia);
    e.texto(p.credenciales.usuario);
    e.texto(p.credenciales.password);
    e.texto(p.credenciales.baseDatos);
    e.texto(p.credenciales.aplicacion);
    e.texto(p.credenciales.estacion);
    e.numero(p.credenciales.integrada);
    e.numero(p.limite ? std::uint64_t(p.limite->count()) + 1 : 0);
    e.numero(std::uint64_t(p.transcurrido.count()));
    // Moved, not copied: a copy would leave this one, with the password, freed unwiped.
    return std::move(e.datos_);
}

std::string serializa(const TablaResolucion& tabla) {
    Escritor e;
    e.numero(tabla.size());
    for (const auto& [nombre, direcciones] : tabla) {
        e.texto(nombre);
        e.numero(direcciones.size());
        for (const std::string& d : direcciones)
            e.texto(d);
    }
    return e.datos_;
}

TablaResolucion deserializaTabla(const std::string& cuerpo) {
    Lector l(cuerpo);
    TablaResolucion tabla;
    for (std::uint64_t n = l.numero(); n > 0; --n) {
        std::string nombre = l.texto();
        std::vector<std::string> direcciones;
        for (std::uint64_t m = l.numero(); m > 0; --m)
            direcciones.push_back(l.texto());
        tabla.emplace_back(std::move(nombre), std::move(direcciones));
    }
    return tabla;
}

PeticionLogin deserializa(const std::string& cuerpo) {
    Lector l(cuerpo);
    PeticionLogin p;
    p.versionDbLib = int(l.numero());
    p.versionTds = l.texto();
    p.producto = l.texto();
    p.tlsMinimo = VersionTls(std::min<std::uint64_t>(l.numero(), std::uint64_t(VersionTls::Tls1_2)));
    p.tlsMaximo = VersionTls(std::min<std::uint64_t>(l.numero(), std::uint64_t(VersionTls::Tls1_2)));
    p.prioridadTls = l.texto();
    for (std::uint64_t n = l.numero(); n > 0; --n)
        p.suitesTls.push_back(std::uint16_t(l.numero()));
    p.host = l.texto();
    p.puerto = std::uint16_t(l.numero());
    p.instancia = l.texto();
    p.credenciales.usuario = l.texto();
    p.credenciales.password = l.texto();
    p.credenciales.baseDatos = l.texto();
    p.credenciales.aplicacion = l.texto();
    p.credenciales.estacion = l.texto();
    p.credenciales.integrada = l.numero() != 0;
    if (const std::uint64_t limite = l.numero())
        p.limite = std::chrono::milliseconds(limite - 1);
    p.transcurrido = std::chrono::milliseconds(l.numero());
    return p;
}

std::string serializa(const ResumenLogin& r) {
    Escritor e;
    e.texto(r.versionTds);
    e.texto(r.servidor);
    e.texto(r.direccion);
    e.numero(r.puerto);
    e.numero(r.loginCifrado);
    e.numero(r.sesionCifrada);
    e.numero(r.versionTls);
    e.numero(r.suiteTls);
    e.texto(r.certificadoSujeto);
    e.texto(r.certificadoEmisor);
    e.numero(std::uint64_t(r.certificadoCaduca));
    e.texto(r.certificadoClave);
    e.numero(r.certificadoBits);
    e.texto(r.versionServidor);
    return e.datos_;
}

ResumenLogin deserializaResumen(const std::string& cuerpo) {
    Lector l(cuerpo);
    ResumenLogin r;
    r.versionTds = l.texto();
    r.servidor = l.texto();
    r.direccion = l.texto();
    r.puerto = std::uint16_t(l.numero());
    r.loginCifrado = l.numero() != 0;
    r.sesionCifrada = l.numero() != 0;
    r.versionTls = std::uint16_t(l.numero());
    r.suiteTls = std::uint16_t(l.numero());
    r.certificadoSujeto = l.texto();
    r.certificadoEmisor = l.texto();
    r.certificadoCaduca = std::int64_t(l.numero());
    r.certificadoClave = l.texto();
    r.certificadoBits = unsigned(l.numero());
    r.versionServidor = l.texto();
    return r;
}

std::string serializa(const FalloLogin& f) {
    Escritor e;
    e.texto(std::string(codigoCausa(f.causa)));
    e.texto(f.descripcion);
    e.texto(f.versionServidor);
    e.numero(f.transcurrido ? std::uint64_t(f.transcurrido->count()) + 1 : 0);
    return e.datos_;
}

FalloLogin deserializaFallo(const std::string& cuerpo) {
    Lector l(cuerpo);
    FalloLogin f;
    const auto causa = causaDeCodigo(l.texto());
    if (!causa)
        throw std::runtime_error("causa de fallo desconocida");
    f.causa = *causa;
    f.descripcion = l.texto();
    f.versionServidor = l.texto();
    if (const std::uint64_t transcurrido = l.numero())
        f.transcurrido = std::chrono::milliseconds(transcurrido - 1);
    return f;
}

std::string serializa(const Lanzamiento& lanzamiento) {
    Escritor e;
    e.texto(lanzamiento.directorio);
    e.numero(lanzamiento.entorno.size());
    for (const std::string& v : lanzamiento.entorno)
        e.texto(v);
    return e.datos_;
}

Lanzamiento deserializaLanzamiento(const std::string& cuerpo) {
    Lector l(cuerpo);
    Lanzamiento lanzamiento;
    lanzamiento.directorio = l.texto();
    const std::uint64_t n = l.numero();
    // Each variable takes at least its 8-byte length: a count beyond that is a lie.
    if (n > cuerpo.size() / 8)
        throw std::runtime_error("lanzamiento truncado");
    for (std::uint64_t i = 0; i < n; ++i)
        lanzamiento.entorno.push_back(l.texto());
    return lanzamiento;
}

bool enviaMensaje(int fd, char tipo, const std::string& cuerpo) {
    return enviaMensajeConDescriptor(fd, tipo, cuerpo, -1);
}

bool enviaMensajeConDescriptor(int fd, char tipo, const std::string& cuerpo, int descriptor, int otro) {
    if (cuerpo.size() > kMensajeMaximo)
        return false;
    std::string trama(4, '\0');
    const auto n = std::uint32_t(cuerpo.size());
    for (int i = 0; i < 4; ++i)
        trama[i] = char((n >> (8 * i)) & 0xFF);
    trama += tipo;
    trama += cuerpo;
    std::size_t enviados = 0;
    if (descriptor >= 0) {
        // The descriptor travels with the first byte; the rest follows as usual.
        MensajeUnix mensaje(trama.data(), trama.size());
        msghdr& m = mensaje.m;
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        const int descriptores[2] = {descriptor, otro};
        const std::size_t cuantos = otro >= 0 ? 2 : 1;
        c->cmsg_len = CMSG_LEN(cuantos * sizeof(int));
        m.msg_controllen = CMSG_SPACE(cuantos * sizeof(int));
        std::memcpy(CMSG_DATA(c), descriptores, cuantos * sizeof(int));
        ssize_t r;
        while ((r = ::sendmsg(fd, &m, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
        }
        if (r <= 0) {
            borraSecreto(trama);
            return false;
        }
        enviados = std::size_t(r);
    }
    const bool enviado = escribeTodo(fd, trama.data() + enviados, trama.size() - enviados);
    borraSecreto(trama); // a request carries the password
    return enviado;
}

bool recibeMensajeConDescriptor(int fd, char& tipo, std::string& cuerpo, int& descriptor,
                                int& errorDescriptor, int* otro) {
    descriptor = -1;
    errorDescriptor = 0;
    if (otro)
        *otro = -1;
    const auto sueltaOtro = [otro] {
        if (otro && *otro >= 0)
            ::close(std::exchange(*otro, -1));
    };
    unsigned char cabecera[5];
    std::size_t leidos = 0;
    while (leidos < sizeof cabecera) {
        MensajeUnix mensaje(cabecera + leidos, sizeof cabecera - leidos);
        msghdr& m = mensaje.m;
        const ssize_t r = ::recvmsg(fd, &m, MSG_CMSG_CLOEXEC);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (descriptor >= 0)
                ::close(descriptor);
            descriptor = -1;
            sueltaOtro();
            return false;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                continue;
            // Only the ones asked for are kept: any other that came is closed.
            const std::size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < n; ++i) {
                int recibido = -1;
                std::memcpy(&recibido, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                if (descriptor < 0)
                    descriptor = recibido;
                else if (otro && *otro < 0)
                    *otro = recibido;
                else
                    ::close(recibido);
            }
        }
        // The kernel drops what does not fit under this process's descriptor limit.
        if ((m.msg_flags & MSG_CTRUNC) && descriptor < 0)
            errorDescriptor = EMFILE;
        leidos += std::size_t(r);
    }
    const std::uint32_t n =
        cabecera[0] | cabecera[1] << 8 | cabecera[2] << 16 | std::uint32_t(cabecera[3]) << 24;
    tipo = char(cabecera[4]);
    bool completo = n <= kMensajeMaximo;
    if (completo) {
        cuerpo.assign(n, '\0');
        for (std::size_t en = 0; completo && en < n;) {
            const ssize_t r = ::recv(fd, cuerpo.data() + en, n - en, 0);
            if (r < 0 && errno == EINTR)
                continue;
            completo = r > 0;
            en += std::size_t(std::max<ssize_t>(r, 0));
        }
    }
    if (!completo && descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
    if (!completo)
        sueltaOtro();
    return completo;
}

Lectura recibeMensaje(int fd, char& tipo, std::string& cuerpo,
                      std::optional<std::chrono::milliseconds> espera) {
    using Reloj = std::chrono::steady_clock;
    const auto fin = Reloj::now() + espera.value_or(std::chrono::milliseconds(0));
    // Reads exactly n bytes, waiting for each piece no later than `fin`. What has
    // arrived already is taken without a poll: a message's body follows its header.
    const auto lee = [&](char* datos, std::size_t n) {
        bool esperar = false;
        while (n > 0) {
            if (esperar) {
                int ms = -1;
                if (espera) {
                    const auto queda = std::chrono::ceil<std::chrono::milliseconds>(fin - Reloj::now());
                    ms = int(std::max<long long>(0, queda.count()));
                }
                pollfd p{fd, POLLIN, 0};
                const int r = ::poll(&p, 1, ms);
                if (r < 0 && errno == EINTR)
                    continue;
                if (r == 0)
                    return Lectura::Agotada;
            }
            const ssize_t leidos = ::recv(fd, datos, n, MSG_DONTWAIT);
            esperar = leidos < 0 && errno == EAGAIN;
            if (leidos < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (leidos <= 0)
                return Lectura::Fin;
            datos += leidos;
            n -= std::size_t(leidos);
        }
        return Lectura::Mensaje;
    };
    unsigned char cabecera[5];
    if (const Lectura l = lee(reinterpret_cast<char*>(cabecera), sizeof cabecera); l != Lectura::Mensaje)
        return l;
    const std::uint32_t n =
        cabecera[0] | cabecera[1] << 8 | cabecera[2] << 16 | std::uint32_t(cabecera[3]) << 24;
    if (n > kMensajeMaximo)
        return Lectura::Ilegible;
    tipo = char(cabecera[4]);
    cuerpo.assign(n, '\0');
    return lee(cuerpo.data(), n);
}

bool recibeMensaje(int fd, char& tipo, std::string& cuerpo) {
    return recibeMensaje(fd, tipo, cuerpo, std::nullopt) == Lectura::Mensaje;
}

} // namespace login_shared
