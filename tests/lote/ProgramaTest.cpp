// tarpelino-lote as a script runs it: a run cut short keeps what it learnt,
// and no input, however large or strange, takes the machine's memory or
// keeps the run from ending.
#include "login_shared/Descriptor.h"
#include "tests/stand_in/server.h"
#include "tests/support/MemoriaProceso.h"
#include "tests/support/PuertoQueRechaza.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kPassword = "Secr3t!";

// tarpelino-lote with `argumentos`; its standard input is fed by `entrada`
// (which writes to the descriptor it is given until it fails), its output and
// errors are read as they come.
class Programa {
public:
    // `salidaDada`, when given, is its standard output, which the test then does not read.
    Programa(const std::vector<std::string>& argumentos, std::function<void(int)> entrada,
             const std::vector<std::pair<std::string, std::string>>& entorno = {}, int salidaDada = -1) {
        int in[2], out[2], err[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("sin descriptores");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[1], 0);
            ::dup2(salidaDada >= 0 ? salidaDada : out[1], 1);
            ::dup2(err[1], 2);
            ::setenv("TARPELINO_PASSWORD", kPassword.c_str(), 1);
            for (const auto& [nombre, valor] : entorno)
                ::setenv(nombre.c_str(), valor.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(TARPELINO_LOTE)};
            for (const std::string& a : argumentos)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(TARPELINO_LOTE, argv.data());
            ::_exit(127);
        }
        ::close(in[1]);
        ::close(out[1]);
        ::close(err[1]);
        salida_ = out[0];
        if (salidaDada >= 0)
            cierraSalida();
        errores_ = err[0];
        entrada_ = in[0];
        alimentador_ = std::thread([this, entrada] {
            if (entrada)
                entrada(entrada_);
            ::shutdown(entrada_, SHUT_WR);
        });
    }

    ~Programa() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::shutdown(entrada_, SHUT_RDWR);
        alimentador_.join();
        for (int fd : {entrada_, salida_, errores_})
            if (fd >= 0)
                ::close(fd);
    }

    // Reads until `listo` holds for what came on standard output, both outputs end or `plazo` passes.
    bool leeHasta(const std::function<bool(const std::string&)>& listo, std::chrono::seconds plazo = 60s) {
        const auto fin = std::chrono::steady_clock::now() + plazo;
        int* fds[2] = {&salida_, &errores_};
        std::string* textos[2] = {&salida, &errores};
        while (!listo(salida)) {
            if (salida_ < 0 && errores_ < 0)
                return false;
            if (std::chrono::steady_clock::now() > fin)
                return false;
            pollfd p[2] = {{salida_, POLLIN, 0}, {errores_, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char b[65536];
                const ssize_t n = ::read(p[i].fd, b, sizeof b);
                if (n > 0) {
                    textos[i]->append(b, std::size_t(n));
                } else {
                    ::close(*fds[i]);
                    *fds[i] = -1;
                }
            }
        }
        return true;
    }

    // Everything until it ends, then its wait status and peak memory; false if it outlives `plazo`.
    bool termina(std::chrono::seconds plazo = 60s) {
        leeHasta([](const std::string&) { return false; }, plazo);
        if (salida_ >= 0 || errores_ >= 0)
            return false;
        rusage uso{};
        const bool ok = ::wait4(pid_, &estado, 0, &uso) == pid_;
        pid_ = -1;
        memoriaKb = uso.ru_maxrss;
        return ok;
    }

    // Until it exits, not its login processes, nor whatever it leaves on its outputs; false if it outlives
    // `plazo`.
    bool sale(std::chrono::milliseconds plazo) {
        const login_shared::Descriptor proceso(int(::syscall(SYS_pidfd_open, pid_, 0)));
        pollfd p{proceso.fd(), POLLIN, 0};
        if (proceso.fd() < 0 || ::poll(&p, 1, int(plazo.count())) != 1 || ::waitpid(pid_, &estado, 0) != pid_)
            return false;
        pid_ = -1;
        return true;
    }

    // It has blocked `s`, so that it takes it as an end of the run rather than dying of it.
    bool atiende(int s) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string linea;
        bool esElPrograma = false;
        while (std::getline(status, linea)) {
            if (linea == "Name:\ttarpelino-lote")
                esElPrograma = true;
            if (linea.rfind("SigBlk:", 0) == 0)
                return esElPrograma && (std::stoull(linea.substr(7), nullptr, 16) >> (s - 1) & 1) != 0;
        }
        return false;
    }

    void senal(int s) { ::kill(pid_, s); }
    pid_t pid() const { return pid_; }
    // Standard output has something to read, left unread.
    bool salidaLista(std::chrono::seconds plazo) const {
        pollfd p{salida_, POLLIN, 0};
        return ::poll(&p, 1, int(std::chrono::milliseconds(plazo).count())) == 1;
    }
    void cierraSalida() {
        ::close(salida_);
        salida_ = -1;
    }

    std::string salida, errores;
    int estado = -1;
    long memoriaKb = 0;

private:
    pid_t pid_ = -1;
    int entrada_ = -1, salida_ = -1, errores_ = -1;
    std::thread alimentador_;
};

std::function<void(int)> texto(const std::string& t) {
    return [t](int fd) { ::send(fd, t.data(), t.size(), MSG_NOSIGNAL); };
}

// `trozo` over and over, until the program stops reading.
std::function<void(int)> sinFin(const std::string& trozo) {
    return [trozo](int fd) {
        std::string bloque;
        while (bloque.size() < 65536)
            bloque += trozo;
        while (::send(fd, bloque.data(), bloque.size(), MSG_NOSIGNAL) > 0) {
        }
    };
}

std::string en(std::uint16_t puerto) {
    return "127.0.0.1," + std::to_string(puerto);
}

// A pipe with no room left, that nobody reads: the first write to it never returns.
class TuberiaLlena {
public:
    TuberiaLlena() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("sin descriptores");
        lectura_ = login_shared::Descriptor(fds[0]);
        escritura_ = login_shared::Descriptor(fds[1]);
        const std::string bloque(4096, 'x');
        while (::write(escritura_.fd(), bloque.data(), bloque.size()) > 0) {
        }
        while (::write(escritura_.fd(), "x", 1) > 0) {
        }
        ::fcntl(escritura_.fd(), F_SETFL, 0);
    }
    int escritura() const { return escritura_.fd(); }

private:
    login_shared::Descriptor lectura_, escritura_;
};

bool esperaQue(const std::function<bool()>& condicion, std::chrono::seconds plazo = 60s) {
    const auto fin = std::chrono::steady_clock::now() + plazo;
    while (!condicion()) {
        if (std::chrono::steady_clock::now() > fin)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace

// The passes of `servidor`'s rows that say the run was cut short, in `formato`'s output.
int interrumpidasDe(const std::string& formato, const std::string& salida, const std::string& servidor) {
    int n = 0;
    std::vector<nlohmann::json> filas;
    if (formato == "json")
        filas = nlohmann::json::parse(salida).get<std::vector<nlohmann::json>>();
    std::istringstream lineas(salida);
    for (std::string linea; std::getline(lineas, linea);) {
        if (formato == "jsonl")
            filas.push_back(nlohmann::json::parse(linea));
        // The table: a line per pass, the server first; CSV: the server quoted, for its comma.
        if (formato == "tabla" && linea.rfind(servidor + " ", 0) == 0)
            n += vecesEn(linea, "Interrumpida.");
        if (formato == "csv" && linea.rfind('"' + servidor + '"', 0) == 0)
            n += vecesEn(linea, ",Interrumpida.,false,interrumpida,");
    }
    for (const nlohmann::json& fila : filas) {
        if (fila["servidor"] != servidor)
            continue;
        // The pass under way, then the one it never reached.
        const nlohmann::json& primera = fila["2005"];
        const nlohmann::json& segunda = fila["2008"];
        n += primera["veredicto"] == "Interrumpida." && primera["causa"] == "interrumpida" &&
             primera["descripcion"] == "La ejecución se interrumpió antes de que terminara este intento.";
        n += segunda["veredicto"] == "Interrumpida." && segunda["causa"] == "interrumpida" &&
             segunda["descripcion"] == "La ejecución se interrumpió antes de que empezara este intento.";
    }
    return n;
}

// SIGINT, SIGTERM and SIGHUP: what was done is written, whole, every server
// under way has its row saying so, and the status says which signal it was;
// the logins under way are not waited for.
TEST(Programa, ASignalWritesWhatWasDoneAndEndsWithItsStatus) {
    stand_in::Config config;
    config.logins = {{"sa", kPassword}};
    stand_in::Server bueno(config);
    bueno.start();
    config.fault = stand_in::Fault::NeverAnswerLogin;
    stand_in::Server callado(config);
    callado.start();
    // Two servers done at once, two that would hold their first pass for its whole minute.
    const std::string lista = en(bueno.port()) + "\n" + en(bueno.port()) + "\n" + en(callado.port()) + "\n" +
                              en(callado.port()) + "\n";
    struct Caso {
        int senal;
        int estado;
        const char* formato;
        // The rows written; none for the table, drawn at the end.
        std::function<int(const std::string&)> filas;
    };
    const std::vector<Caso> casos{
        {SIGINT, 130, "csv", [](const std::string& s) { return vecesEn(s, "\r\n") - 1; }},
        {SIGTERM, 143, "json", [](const std::string& s) { return vecesEn(s, "\"servidor\""); }},
        {SIGHUP, 129, "jsonl", [](const std::string& s) { return vecesEn(s, "\n"); }},
        {SIGINT, 130, "tabla", {}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.formato);
        const std::size_t antes = callado.logins().size();
        Programa p({"--usuario", "sa", "--tiempo", "60", "--paralelo", "4", "--formato", caso.formato, "-"},
                   texto(lista));
        // Each server's row comes as soon as it is done, not at the end of the run.
        if (caso.filas) {
            ASSERT_TRUE(p.leeHasta([&](const std::string& s) { return caso.filas(s) == 2; }))
                << p.salida << p.errores;
        }
        // Both silent servers have their login under way.
        ASSERT_TRUE(esperaQue([&] { return callado.logins().size() == antes + 2; }));
        p.senal(caso.senal);
        ASSERT_TRUE(p.termina(30s)) << "no terminó";
        EXPECT_TRUE(WIFEXITED(p.estado) && WEXITSTATUS(p.estado) == caso.estado) << p.estado;
        // The rows done, whole, and each silent server's: its first pass cut short, its second never begun.
        if (caso.filas) {
            EXPECT_EQ(caso.filas(p.salida), 4) << p.salida;
        }
        EXPECT_EQ(interrumpidasDe(caso.formato, p.salida, en(callado.port())), 4) << p.salida;
        // Nothing but, on a machine loaded enough, that fewer servers go at once.
        EXPECT_TRUE(p.errores.empty() || p.errores.rfind("tarpelino-lote: --paralelo 4: ", 0) == 0)
            << p.errores;
    }

    // A reader that goes away, as head does: the run ends at its next row, and says nothing.
    std::string muchos;
    for (int i = 0; i < 20; ++i)
        muchos += en(bueno.port()) + "\n";
    Programa p({"--usuario", "sa", "--paralelo", "1", "--formato", "jsonl", "-"}, texto(muchos));
    ASSERT_TRUE(p.leeHasta([](const std::string& s) { return vecesEn(s, "\n") >= 1; })) << p.errores;
    p.cierraSalida();
    ASSERT_TRUE(p.termina(60s));
    EXPECT_TRUE(WIFSIGNALED(p.estado) && WTERMSIG(p.estado) == SIGPIPE) << p.estado;
    EXPECT_EQ(p.errores, "");
}

// With standard output a pipe nobody reads, a write there never returns: a
// signal still ends the run within its second, with its status.
TEST(Programa, ASignalEndsTheRunWhileItsOutputWaitsForAReader) {
    stand_in::Config config;
    config.logins = {{"sa", kPassword}};
    config.fault = stand_in::Fault::NeverAnswerLogin;
    stand_in::Server callado(config);
    callado.start();
    struct Caso {
        int senal;
        int estado;
        const char* formato;
        // Signalled once its login is under way: its row is what waits. Else the start
        // of the CSV or the JSON array waits, before any login.
        bool conLogin;
    };
    const std::vector<Caso> casos{
        {SIGTERM, 143, "json", false},
        {SIGINT, 130, "csv", false},
        {SIGHUP, 129, "jsonl", true},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.formato);
        const TuberiaLlena salida;
        const std::size_t antes = callado.logins().size();
        Programa p({"--usuario", "sa", "--tiempo", "60", "--formato", caso.formato, "-"},
                   texto(en(callado.port()) + "\n"), {}, salida.escritura());
        ASSERT_TRUE(esperaQue([&] { return p.atiende(caso.senal); }));
        if (caso.conLogin) {
            ASSERT_TRUE(esperaQue([&] { return callado.logins().size() == antes + 1; }));
        }
        p.senal(caso.senal);
        // Its second, and room for a busy machine.
        ASSERT_TRUE(p.sale(5s)) << "sigue esperando a quien lea su salida";
        EXPECT_TRUE(WIFEXITED(p.estado) && WEXITSTATUS(p.estado) == caso.estado) << p.estado;
    }
}

// Whatever the list is, the run ends soon, under 64 MB, and says what was wrong with it.
TEST(Programa, AnyInputIsReadWithinBoundsAndWhatIsNoListIsRefused) {
    struct Caso {
        const char* nombre;
        std::vector<std::string> archivos;
        std::function<void(int)> entrada;
        int estado;
        const char* error; // the start of what standard error says; "": nothing
    };
    const std::vector<Caso> casos{
        {"/dev/zero", {"/dev/zero"}, {}, 1, "tarpelino-lote: /dev/zero, línea 1: tiene un byte nulo"},
        {"/dev/urandom", {"/dev/urandom"}, {}, 1, "tarpelino-lote: /dev/urandom"},
        {"a line that never ends",
         {"-"},
         sinFin("a"),
         1,
         "tarpelino-lote: entrada estándar: la entrada pasa de 32 MiB"},
        {"errors without end",
         {"-"},
         sinFin("srv,0\n"),
         1,
         "tarpelino-lote: entrada estándar, línea 1: El puerto"},
        {"servers without end",
         {"-"},
         sinFin("127.0.0.1,1\n"),
         1,
         "tarpelino-lote: entrada estándar, línea 100001"},
        {"an empty list", {"-"}, texto(""), 2, "tarpelino-lote: no hay ningún servidor"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        std::vector<std::string> argumentos{"--usuario", "sa", "--tiempo", "1", "--formato", "csv"};
        argumentos.insert(argumentos.end(), caso.archivos.begin(), caso.archivos.end());
        Programa p(argumentos, caso.entrada);
        ASSERT_TRUE(p.termina(60s)) << "sigue leyendo";
        EXPECT_TRUE(WIFEXITED(p.estado) && WEXITSTATUS(p.estado) == caso.estado) << p.estado << p.errores;
        EXPECT_EQ(p.errores.rfind(caso.error, 0), 0u) << p.errores.substr(0, 2000);
        // The first errors whole, the rest counted.
        EXPECT_LE(vecesEn(p.errores, "\n"), 12) << p.errores.substr(0, 2000);
        EXPECT_LT(p.memoriaKb, 64 * 1024);
        // Nothing from a list that was refused is tried.
        EXPECT_EQ(vecesEn(p.salida, "\r\n"), caso.estado == 2 ? 0 : 1) << p.salida.substr(0, 2000);
    }
}

// A login's TLS secrets (which, with a capture, decrypt LOGIN7 and the
// password) and db-lib's log (which holds it) are never written.
TEST(Programa, NoLoginProcessWritesItsTlsSecretsOrALog) {
    stand_in::Config config;
    config.logins = {{"sa", kPassword}};
    config.encryption = stand_in::Encryption::Required;
    stand_in::Server cifrado(config);
    cifrado.start();
    const std::string carpeta = ::testing::TempDir();
    const std::string claves = carpeta + "lote-sslkeylog.txt", volcado = carpeta + "lote-tdsdump.txt";
    std::filesystem::remove(claves);
    std::filesystem::remove(volcado);
    Programa p({"--usuario", "sa", "--formato", "csv", "-"}, texto(en(cifrado.port()) + "\n"),
               {{"SSLKEYLOGFILE", claves}, {"TDSDUMP", volcado}});
    ASSERT_TRUE(p.termina(60s));
    EXPECT_TRUE(WIFEXITED(p.estado) && WEXITSTATUS(p.estado) == 0) << p.estado << p.salida << p.errores;
    EXPECT_EQ(cifrado.logins().size(), 2u);
    EXPECT_TRUE(cifrado.logins()[0].encrypted);
    EXPECT_FALSE(std::filesystem::exists(claves));
    EXPECT_FALSE(std::filesystem::exists(volcado));
}

// The password's copies in the program's memory once every login is done:
// none. Nor may another process of the same user read that memory.
TEST(Programa, OnceNoLoginNeedsThePasswordNoCopyOfItIsLeft) {
    if (kConSanitizador)
        GTEST_SKIP() << "AddressSanitizer guarda lo liberado y sus propias pilas: las copias que cuenta no "
                        "son las del programa";
    PuertoQueRechaza cerrado;
    std::string lista;
    for (int i = 0; i < 300; ++i)
        lista += en(cerrado.puerto()) + "\n";
    // The table comes after every login, more than a pipe holds: unread, it keeps the program waiting there.
    Programa p({"--usuario", "sa", "--paralelo", "8", "-"}, texto(lista));
    ASSERT_TRUE(p.salidaLista(60s));
    // Not dumpable, run by root too: its flag, not only whether this process may read its memory.
    if (const std::optional<bool> siVolcable = volcable(p.pid())) {
        EXPECT_FALSE(*siVolcable) << "tarpelino-lote es volcable";
    } else {
        std::printf("aquí no se puede saber si un proceso es volcable\n");
    }
    if (::geteuid() != 0) {
        // Not dumpable: only a process with CAP_SYS_PTRACE may read it.
        EXPECT_FALSE(std::ifstream("/proc/" + std::to_string(p.pid()) + "/mem").is_open());
        GTEST_SKIP() << "solo root puede leer la memoria de un proceso no volcable";
    }
    int copias = 0;
    ASSERT_GT(recorreMemoriaEscribible(p.pid(),
                                       [&](const std::string& mapa) {
                                           copias += vecesEn(mapa, kPassword);
                                           return true;
                                       }),
              0u);
    EXPECT_EQ(copias, 0);
}
