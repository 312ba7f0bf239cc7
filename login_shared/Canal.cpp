#include "login_shared/Canal.h"

#include "login_shared/Secreto.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace login_shared {

namespace {

constexpr std::uint32_t kMensajeMaximo = 1 << 20;

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
