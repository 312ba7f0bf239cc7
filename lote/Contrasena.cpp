#include "lote/Contrasena.h"

#include "login_shared/Secreto.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace lote {

namespace {

bool escribeTodo(int fd, const std::string& texto) {
    std::size_t hecho = 0;
    while (hecho < texto.size()) {
        const ssize_t n = ::write(fd, texto.data() + hecho, texto.size() - hecho);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        hecho += std::size_t(n);
    }
    return true;
}

// Reads one line from `fd` without its end; false at EOF before any end or on error.
bool leeLinea(int fd, std::string& linea) {
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !linea.empty();
        if (c == '\n')
            return true;
        if (c != '\r' && linea.size() < linea.capacity())
            linea += c;
    }
}

// A Ctrl-C at the prompt must not leave the terminal without echo: the
// handler puts the terminal back and lets the signal end the program.
int gTerminal = -1;
termios gAntes{};
constexpr int kSenales[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void restauraYSigue(int senal) {
    ::tcsetattr(gTerminal, TCSAFLUSH, &gAntes);
    ::signal(senal, SIG_DFL);
    ::raise(senal);
}

} // namespace

std::optional<login_shared::Secreto> tomaContrasenaDelEntorno() {
    char* valor = std::getenv(kVariableContrasena);
    if (!valor)
        return std::nullopt;
    login_shared::Secreto contrasena{std::string(valor)};
    // The variable's bytes stay in this process's memory after unsetenv.
    std::memset(valor, 0, std::strlen(valor));
    ::unsetenv(kVariableContrasena);
    return contrasena;
}

std::optional<login_shared::Secreto> pideContrasena(const std::string& pregunta) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios antes{};
    const bool esTerminal = ::tcgetattr(tty, &antes) == 0;
    struct sigaction previas[std::size(kSenales)] = {};
    if (esTerminal) {
        gTerminal = tty;
        gAntes = antes;
        struct sigaction restaura {};
        restaura.sa_handler = restauraYSigue;
        sigemptyset(&restaura.sa_mask);
        for (std::size_t i = 0; i < std::size(kSenales); ++i)
            ::sigaction(kSenales[i], &restaura, &previas[i]);
        termios sinEco = antes;
        sinEco.c_lflag &= ~tcflag_t(ECHO);
        sinEco.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &sinEco);
    }
    std::optional<login_shared::Secreto> resultado;
    std::string linea;
    // Room enough that the line never moves, leaving a copy behind.
    linea.reserve(4096);
    if (escribeTodo(tty, pregunta) && leeLinea(tty, linea))
        resultado.emplace(linea);
    login_shared::borraSecreto(linea);
    if (esTerminal) {
        ::tcsetattr(tty, TCSAFLUSH, &antes);
        for (std::size_t i = 0; i < std::size(kSenales); ++i)
            ::sigaction(kSenales[i], &previas[i], nullptr);
    }
    ::close(tty);
    return resultado;
}

} // namespace lote
