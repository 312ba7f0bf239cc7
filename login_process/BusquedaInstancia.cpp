#include "login_process/BusquedaInstancia.h"

#include "login_process/Textos.h"
#include "login_shared/Descriptor.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/TextoAscii.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace login_process {

using login_shared::Causa;
using login_shared::Descriptor;
using login_shared::ErrorConexion;
using login_shared::igualSinMayusculas;
using login_shared::leeEntero;
using login_shared::Plazo;

namespace {

constexpr std::uint16_t kPuertoBrowser = 1434;
constexpr std::chrono::milliseconds kIntervaloReintento{1000};

class SocketUdp {
public:
    explicit SocketUdp(const DireccionIp& destino) {
        DireccionIp d = destino;
        if (d.direccion.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(d.direccion).sin_port = htons(kPuertoBrowser);
        else
            reinterpret_cast<sockaddr_in6&>(d.direccion).sin6_port = htons(kPuertoBrowser);
        fd_ = Descriptor(::socket(d.direccion.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        // Connected, so that an ICMP "port unreachable" comes back as ECONNREFUSED.
        if (fd_.fd() >= 0 && ::connect(fd_.fd(), reinterpret_cast<sockaddr*>(&d.direccion), d.longitud) != 0)
            fd_.cierra();
    }

    int fd() const { return fd_.fd(); }
    // False when the host already said the port is closed.
    bool envia(const std::string& datos) const {
        if (fd_.fd() < 0)
            return true;
        return ::send(fd_.fd(), datos.data(), datos.size(), MSG_NOSIGNAL) >= 0 || errno != ECONNREFUSED;
    }

private:
    Descriptor fd_;
};

} // namespace

RespuestaBrowser leeRespuestaBrowser(std::string_view datos, const std::string& instancia) {
    RespuestaBrowser respuesta;
    std::string nombre;
    std::optional<std::uint16_t> puerto;
    const auto cierraRegistro = [&] {
        if (!nombre.empty()) {
            respuesta.instancias.push_back(nombre);
            if (igualSinMayusculas(nombre, instancia)) {
                respuesta.puerto = puerto;
                respuesta.instanciaSinTcp = !puerto;
            }
        }
        nombre.clear();
        puerto.reset();
    };
    std::size_t pos = 0;
    while (pos < datos.size()) {
        std::size_t fin = datos.find(';', pos);
        std::string_view clave = datos.substr(pos, fin == std::string_view::npos ? fin : fin - pos);
        if (fin == std::string_view::npos)
            break;
        if (clave.empty()) { // ";;" ends one instance's record
            cierraRegistro();
            pos = fin + 1;
            continue;
        }
        std::size_t finValor = datos.find(';', fin + 1);
        std::string_view valor =
            datos.substr(fin + 1, finValor == std::string_view::npos ? finValor : finValor - fin - 1);
        if (igualSinMayusculas(clave, "InstanceName"))
            nombre = std::string(valor);
        else if (igualSinMayusculas(clave, "tcp")) {
            const long p = leeEntero(valor).value_or(0);
            if (p > 0 && p <= 65535)
                puerto = static_cast<std::uint16_t>(p);
        }
        if (finValor == std::string_view::npos)
            break;
        pos = finValor + 1;
    }
    cierraRegistro();
    return respuesta;
}

std::uint16_t buscaPuertoInstancia(const std::vector<DireccionIp>& direcciones, const std::string& host,
                                   const std::string& instancia, const Plazo& plazo) {
    std::vector<SocketUdp> sockets;
    for (const DireccionIp& d : direcciones)
        sockets.emplace_back(d);

    // CLNT_UCAST_INST for the instance, and CLNT_UCAST_EX so that a browser
    // that does not know it still says which instances it has.
    const std::string preguntaInstancia = std::string(1, '\x04') + instancia + std::string(1, '\0');
    const std::string preguntaTodas(1, '\x03');

    std::vector<bool> cerrado(sockets.size(), false);
    bool primeraRonda = true;
    auto proximoEnvio = Plazo::Reloj::now();
    const auto todosCerrados = [&] {
        return std::all_of(cerrado.begin(), cerrado.end(), [](bool c) { return c; });
    };
    for (;;) {
        if (todosCerrados())
            throw ErrorConexion(textos::browserCerrado(host), Causa::Instancia);
        if (Plazo::Reloj::now() >= proximoEnvio) {
            // One datagram in the first round: hosts send one "port unreachable" a second at most.
            for (std::size_t i = 0; i < sockets.size(); ++i)
                if (!cerrado[i])
                    cerrado[i] = !sockets[i].envia(preguntaInstancia) ||
                                 (!primeraRonda && !sockets[i].envia(preguntaTodas));
            primeraRonda = false;
            proximoEnvio = Plazo::Reloj::now() + kIntervaloReintento;
        }
        if (plazo.agotado())
            throw ErrorConexion(textos::browserSinRespuesta(host, plazo), Causa::Tiempo);

        std::vector<pollfd> fds;
        for (std::size_t i = 0; i < sockets.size(); ++i)
            fds.push_back({cerrado[i] ? -1 : sockets[i].fd(), POLLIN, 0});
        auto espera =
            std::chrono::duration_cast<std::chrono::milliseconds>(proximoEnvio - Plazo::Reloj::now());
        if (!plazo.ilimitado())
            espera = std::min(espera, plazo.restante());
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(espera.count(), 0)));

        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[65536];
            ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == ECONNREFUSED)
                    cerrado[i] = true;
                continue;
            }
            // The socket is connected: only the browser's address can answer on it.
            if (n <= 3 || buffer[0] != '\x05')
                throw ErrorConexion(textos::browserRespuestaNoValida(host), Causa::Instancia);
            RespuestaBrowser r =
                leeRespuestaBrowser(std::string_view(buffer + 3, std::size_t(n) - 3), instancia);
            if (r.puerto)
                return *r.puerto;
            if (r.instancias.empty())
                throw ErrorConexion(textos::browserRespuestaNoValida(host), Causa::Instancia);
            if (r.instanciaSinTcp)
                throw ErrorConexion(textos::instanciaSinTcp(instancia, host), Causa::Instancia);
            throw ErrorConexion(textos::instanciaNoEncontrada(instancia, host, r.instancias),
                                Causa::Instancia);
        }
    }
}

} // namespace login_process
