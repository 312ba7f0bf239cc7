// Another local user, and an application that a test can kill or starve,
// for the tests that a login stays sealed (LoginSelladoTest.cpp). Run as
// root, the attacker first becomes `nobody`, as a second ordinary user would be.
//
//   data_access_otro_usuario ataca conecta|suplanta <uid de la víctima> [puerto excluido...]
//       Watches the kernel's list of listeners for the victim's new ones on 127.0.0.1 and, for each one,
//       connects and holds the connection ("conectado P"), or connects, lets go, binds the
//       port itself ("ocupado P") and plays a server without encryption, printing "capturado P"
//       if a LOGIN7 reaches it. Runs until killed.
//   data_access_otro_usuario conecta-a <puerto>
//       Connects to 127.0.0.1:<puerto> and prints "conectado", then "cerrado" when the other end
//       closes the connection (and "recibido" first if anything came through).
//   data_access_otro_usuario ocupa <puerto>
//       Tries to bind 127.0.0.1:<puerto> and listen: prints "ocupado" or "en uso".
//   data_access_otro_usuario abre <cadena> [--otro-usuario] [--nproc N] [--nofile N] [--lee-memoria]
//       Opens through the connection object (as nobody with --otro-usuario, when root) and
//       prints "abierta" or the description. With
//       --lee-memoria, once a line arrives on standard input, tries to read its login process's
//       environment and prints "memoria legible" or "memoria protegida" before the open ends.
//
// Exit status 77: this user cannot run the build's login process here (the test is skipped).
#include "data_access/ConexionFreeTds.h"
#include "data_access/LanzamientoLogin.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <iostream>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void di(const std::string& linea) {
    const std::string l = linea + "\n";
    [[maybe_unused]] auto n = ::write(1, l.data(), l.size());
}

// Root plays the second user as nobody; anyone else is already not the victim's uid only
// when the test says so.
bool dejaDeSerRoot() {
    if (::getuid() != 0)
        return true;
    const gid_t nadie = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nadie) == 0 && ::setuid(nadie) == 0;
}

// Ports of 127.0.0.1 listeners that `uid` owns, asked of the kernel's socket diagnostics with
// only listening sockets in the answer: /proc/net/tcp lists every socket, the thousands in
// TIME_WAIT a busy test run leaves too, and reading it is slower than a relay's listener lives.
std::set<std::uint16_t> escuchasDe(uid_t uid) {
    std::set<std::uint16_t> puertos;
    const int nl = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return puertos;
    struct {
        nlmsghdr cabecera;
        inet_diag_req_v2 peticion;
    } pregunta{};
    pregunta.cabecera.nlmsg_len = sizeof pregunta;
    pregunta.cabecera.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    pregunta.cabecera.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    pregunta.peticion.sdiag_family = AF_INET;
    pregunta.peticion.sdiag_protocol = IPPROTO_TCP;
    pregunta.peticion.idiag_states = 1U << 10; // TCP_LISTEN
    if (::send(nl, &pregunta, sizeof pregunta, 0) == ssize_t(sizeof pregunta)) {
        alignas(nlmsghdr) char respuesta[32768];
        for (bool fin = false; !fin;) {
            const ssize_t n = ::recv(nl, respuesta, sizeof respuesta, 0);
            if (n <= 0)
                break;
            auto largo = std::uint32_t(n);
            for (auto* h = reinterpret_cast<nlmsghdr*>(respuesta); NLMSG_OK(h, largo);
                 h = NLMSG_NEXT(h, largo)) {
                if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                    fin = true;
                    break;
                }
                const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
                if (m->idiag_uid == uid && m->id.idiag_src[0] == htonl(INADDR_LOOPBACK))
                    puertos.insert(ntohs(m->id.idiag_sport));
            }
        }
    }
    ::close(nl);
    return puertos;
}

sockaddr_in enLoopback(std::uint16_t puerto) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(puerto);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A listener of this user's on 127.0.0.1:<puerto>, or -1 if the port is taken.
int ocupaPuerto(std::uint16_t puerto) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int si = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    const sockaddr_in a = enLoopback(puerto);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int conecta(std::uint16_t puerto) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = enLoopback(puerto);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads one TDS packet within a second; its type, or -1.
int leePaquete(int fd) {
    std::string datos;
    char trozo[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return -1;
        const ssize_t n = ::recv(fd, trozo, sizeof trozo, 0);
        if (n <= 0)
            return -1;
        datos.append(trozo, std::size_t(n));
        if (datos.size() >= 8) {
            const std::size_t largo = std::size_t(std::uint8_t(datos[2])) << 8 | std::uint8_t(datos[3]);
            if (datos.size() >= largo)
                return std::uint8_t(datos[0]);
        }
    }
}

// A PRELOGIN reply that offers no encryption: a client that takes it sends LOGIN7 in clear.
std::string preloginSinCifrado() {
    // VERSION (offset 11, 6 bytes), ENCRYPTION (offset 17, 1 byte = ENCRYPT_NOT_SUP), terminator.
    const std::string carga = std::string("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF", 11) +
                              std::string("\x0F\x00\x07\xD0\x00\x00", 6) + std::string("\x02", 1);
    const std::size_t largo = carga.size() + 8;
    return std::string("\x04\x01", 2) + char(largo >> 8) + char(largo & 0xFF) +
           std::string("\x00\x00\x01\x00", 4) + carga;
}

// Binds the port a relay just gave up, if it can, and serves one client there.
void suplanta(std::uint16_t puerto) {
    int escucha = -1;
    for (int intento = 0; intento < 200 && escucha < 0; ++intento) {
        escucha = ocupaPuerto(puerto);
        if (escucha < 0)
            std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    const bool ocupado = escucha >= 0;
    if (ocupado) {
        di("ocupado " + std::to_string(puerto));
        pollfd p{escucha, POLLIN, 0};
        if (::poll(&p, 1, 2000) > 0) {
            const int cliente = ::accept(escucha, nullptr, nullptr);
            const std::string respuesta = preloginSinCifrado();
            if (leePaquete(cliente) == 0x12 && ::send(cliente, respuesta.data(), respuesta.size(), 0) > 0 &&
                leePaquete(cliente) == 0x10)
                di("capturado " + std::to_string(puerto));
            ::close(cliente);
        }
        ::close(escucha);
    }
}

int ataca(const std::string& modo, uid_t victima, const std::set<std::uint16_t>& excluidos) {
    if (!dejaDeSerRoot())
        return 77;
    // Only listeners that appear from now on: the victim's logins.
    std::set<std::uint16_t> vistos = escuchasDe(victima);
    vistos.insert(excluidos.begin(), excluidos.end());
    std::vector<int> retenidas;
    di("listo");
    // No pause between looks: the race against db-lib's own connection is a fraction of a millisecond.
    for (;;) {
        for (std::uint16_t puerto : escuchasDe(victima)) {
            if (!vistos.insert(puerto).second)
                continue;
            const int fd = conecta(puerto);
            if (fd < 0)
                continue;
            di("conectado " + std::to_string(puerto));
            if (modo == "conecta") {
                retenidas.push_back(fd);
            } else {
                ::close(fd);
                suplanta(puerto);
            }
        }
        // A relay turns a stranger away at once: what it held is let go.
        for (auto fd = retenidas.begin(); fd != retenidas.end();) {
            char c;
            const ssize_t n = ::recv(*fd, &c, 1, MSG_DONTWAIT);
            if (n > 0)
                di("recibido");
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                ::close(*fd);
                fd = retenidas.erase(fd);
            } else {
                ++fd;
            }
        }
    }
}

// The login process this one started: a child named tarpelino-login.
pid_t hijoLogin() {
    for (int intento = 0; intento < 500; ++intento) {
        std::ifstream hijos("/proc/self/task/" + std::to_string(::getpid()) + "/children");
        pid_t pid = 0;
        while (hijos >> pid) {
            std::ifstream nombre("/proc/" + std::to_string(pid) + "/comm");
            std::string n;
            if (std::getline(nombre, n) && n == "tarpelino-login")
                return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

int abre(const std::string& cadena, const std::vector<std::string>& opciones) {
    bool leeMemoria = false, otroUsuario = false;
    for (std::size_t i = 0; i < opciones.size(); ++i) {
        if (opciones[i] == "--lee-memoria") {
            leeMemoria = true;
        } else if (opciones[i] == "--otro-usuario") {
            otroUsuario = true;
        } else if (i + 1 < opciones.size() && (opciones[i] == "--nproc" || opciones[i] == "--nofile")) {
            const rlim_t n = std::stoul(opciones[++i]);
            const rlimit l{n, n};
            if (::setrlimit(opciones[i - 1] == "--nproc" ? RLIMIT_NPROC : RLIMIT_NOFILE, &l) != 0)
                return 2;
        }
    }
    if (otroUsuario && !dejaDeSerRoot())
        return 77;
    if (::access(data_access::rutaProcesoLogin().c_str(), X_OK) != 0)
        return 77;
    std::thread lector;
    if (leeMemoria) {
        lector = std::thread([] {
            std::string linea;
            std::getline(std::cin, linea);
            const pid_t pid = hijoLogin();
            std::ifstream entorno("/proc/" + std::to_string(pid) + "/environ");
            std::string contenido;
            di(pid > 0 && std::getline(entorno, contenido) ? "memoria legible" : "memoria protegida");
        });
    }
    data_access::ConexionFreeTds conexion;
    std::string resultado;
    try {
        conexion.setConnectionString(cadena);
        conexion.open();
        resultado = "abierta";
        conexion.close();
    } catch (const std::exception& e) {
        resultado = e.what();
    }
    if (lector.joinable())
        lector.join();
    di(resultado);
    return 0;
}

int conectaA(std::uint16_t puerto) {
    if (!dejaDeSerRoot())
        return 77;
    const int fd = conecta(puerto);
    if (fd < 0)
        return 1;
    di("conectado");
    char trozo[256];
    for (ssize_t n; (n = ::recv(fd, trozo, sizeof trozo, 0)) > 0;)
        di("recibido");
    di("cerrado");
    return 0;
}

int ocupa(std::uint16_t puerto) {
    if (!dejaDeSerRoot())
        return 77;
    di(ocupaPuerto(puerto) >= 0 ? "ocupado" : "en uso");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "ataca") {
        std::set<std::uint16_t> excluidos;
        for (std::size_t i = 3; i < args.size(); ++i)
            excluidos.insert(std::uint16_t(std::stoul(args[i])));
        return ataca(args[1], uid_t(std::stoul(args[2])), excluidos);
    }
    if (args.size() == 2 && args[0] == "conecta-a")
        return conectaA(std::uint16_t(std::stoul(args[1])));
    if (args.size() == 2 && args[0] == "ocupa")
        return ocupa(std::uint16_t(std::stoul(args[1])));
    if (args.size() >= 2 && args[0] == "abre")
        return abre(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    std::cerr << "uso: data_access_otro_usuario ataca|abre ...\n";
    return 2;
}
