// Another local user, and an application that a test can kill or starve,
// for the tests that a login stays sealed (LoginSelladoTest.cpp). Run as
// root, the attacker first becomes `nobody`, as a second ordinary user would be.
//
//   data_access_otro_usuario conecta-a <puerto>
//       Connects to 127.0.0.1:<puerto> and prints "conectado", then "cerrado" when the other end
//       closes the connection (and "recibido" first if anything came through); or "rechazado".
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
#include <netinet/in.h>
#include <poll.h>
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
    if (fd < 0) {
        di("rechazado");
        return 1;
    }
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
    if (args.size() == 2 && args[0] == "conecta-a")
        return conectaA(std::uint16_t(std::stoul(args[1])));
    if (args.size() == 2 && args[0] == "ocupa")
        return ocupa(std::uint16_t(std::stoul(args[1])));
    if (args.size() >= 2 && args[0] == "abre")
        return abre(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    std::cerr << "uso: data_access_otro_usuario conecta-a|ocupa|abre ...\n";
    return 2;
}
