// tarpelino-lote on a terminal: the password is never echoed and the terminal
// is given back as it was, a Ctrl-C included; the progress bar goes to
// standard error only when that is a terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Terminal {
    int maestro = -1;
    pid_t pid = -1;
    std::string visto;

    // tarpelino-lote on a terminal of its own, asking for sa's password.
    Terminal() {
        pid = ::forkpty(&maestro, nullptr, nullptr, nullptr);
        if (pid == 0) {
            ::unsetenv("TARPELINO_PASSWORD");
            // A port nothing listens on: the run after the prompt is quick either way.
            ::execl(TARPELINO_LOTE, "tarpelino-lote", "--usuario", "sa", "--tiempo", "1", "-", nullptr);
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (maestro >= 0)
            ::close(maestro);
    }

    // Reads what the program writes until `texto` shows or 20 s pass.
    bool esperaTexto(const std::string& texto) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (visto.find(texto) == std::string::npos) {
            if (std::chrono::steady_clock::now() > fin)
                return false;
            pollfd p{maestro, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char b[512];
                const ssize_t n = ::read(maestro, b, sizeof b);
                if (n <= 0)
                    return false;
                visto.append(b, std::size_t(n));
            }
        }
        return true;
    }

    bool eco() const {
        termios t{};
        return ::tcgetattr(maestro, &t) == 0 && (t.c_lflag & ECHO);
    }

    int terminaEstado() {
        int estado = 0;
        ::waitpid(pid, &estado, 0);
        pid = -1;
        return estado;
    }
};

} // namespace

TEST(Terminal, IsReadWithoutEchoAndTheTerminalGetsItsEchoBack) {
    Terminal t;
    ASSERT_TRUE(t.esperaTexto("Contraseña")) << t.visto;
    EXPECT_FALSE(t.eco());
    const std::string contrasena = "Secr3t!\n";
    ASSERT_EQ(::write(t.maestro, contrasena.data(), contrasena.size()), ssize_t(contrasena.size()));
    // Typing ahead of the prompt's end is dropped, as getpass does: the list waits for the echo.
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!t.eco() && std::chrono::steady_clock::now() < fin)
        ::usleep(10000);
    ASSERT_TRUE(t.eco());
    const std::string lista = "127.0.0.1,1\n";
    ASSERT_EQ(::write(t.maestro, lista.data(), lista.size()), ssize_t(lista.size()));
    // End of the server list: Ctrl-D at the start of a line.
    ASSERT_TRUE(t.esperaTexto("127.0.0.1,1")) << t.visto;
    ASSERT_EQ(::write(t.maestro, "\x04", 1), 1);
    // Standard error is the terminal here: the progress bar is drawn on it.
    EXPECT_TRUE(t.esperaTexto("1/1 servidores")) << t.visto;
    const int estado = t.terminaEstado();
    EXPECT_TRUE(WIFEXITED(estado)) << estado;
    EXPECT_EQ(t.visto.find("Secr3t!"), std::string::npos) << t.visto;
}

TEST(Terminal, ACtrlCAtThePromptLeavesTheTerminalAsItWas) {
    Terminal t;
    ASSERT_TRUE(t.esperaTexto("Contraseña")) << t.visto;
    EXPECT_FALSE(t.eco());
    ASSERT_EQ(::write(t.maestro, "\x03", 1), 1);
    const int estado = t.terminaEstado();
    EXPECT_TRUE(WIFSIGNALED(estado) && WTERMSIG(estado) == SIGINT) << estado;
    EXPECT_TRUE(t.eco());
}

// Standard error to a file, as in a script or a cron job: no progress bar in it.
TEST(Terminal, NoProgressBarWhenStandardErrorIsNoTerminal) {
    char plantilla[] = "/tmp/lote-errores-XXXXXX";
    const int fd = ::mkstemp(plantilla);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string orden = std::string("printf '127.0.0.1,1\\n' | TARPELINO_PASSWORD=x ") +
                              TARPELINO_LOTE + " --usuario sa --tiempo 1 - >/dev/null 2>" + plantilla;
    const int estado = std::system(orden.c_str());
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 1) << estado;
    std::string errores;
    if (FILE* f = std::fopen(plantilla, "r")) {
        char b[512];
        for (std::size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;)
            errores.append(b, n);
        std::fclose(f);
    }
    ::unlink(plantilla);
    EXPECT_EQ(errores.find("servidores"), std::string::npos) << errores;
}
