#include "bench/arbol.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_set>
#include <vector>

extern char** environ;

namespace bench {

namespace {

// The fields of /proc/<pid>/stat after the name, from the state (field 3) on; empty if it is gone.
std::vector<std::string> camposDeStat(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string texto;
    std::getline(stat, texto);
    // The name in parentheses may hold spaces and parentheses: the fields follow the last ')'.
    const auto cierre = texto.rfind(')');
    if (cierre == std::string::npos)
        return {};
    std::istringstream entrada(texto.substr(cierre + 1));
    std::vector<std::string> campos;
    for (std::string c; entrada >> c;)
        campos.push_back(c);
    return campos;
}

pid_t padreDe(const std::string& pid) {
    const auto campos = camposDeStat(pid);
    return campos.size() > 1 ? pid_t(std::atol(campos[1].c_str())) : -1;
}

long pssKb(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string linea; std::getline(rollup, linea);)
        if (linea.rfind("Pss:", 0) == 0)
            return std::atol(linea.c_str() + 4);
    return 0;
}

// Adds the frame number of every resident page of the process; false if the frame numbers read as 0
// (no CAP_SYS_ADMIN).
bool anadeMarcos(pid_t pid, std::unordered_set<std::uint64_t>& marcos) {
    const std::string dir = "/proc/" + std::to_string(pid);
    const int mapa = ::open((dir + "/pagemap").c_str(), O_RDONLY);
    if (mapa < 0)
        return true; // gone meanwhile
    const long pagina = ::sysconf(_SC_PAGESIZE);
    std::ifstream maps(dir + "/maps");
    bool visibles = true;
    std::vector<std::uint64_t> entradas(4096);
    for (std::string linea; std::getline(maps, linea);) {
        std::uint64_t desde = 0, hasta = 0;
        if (std::sscanf(linea.c_str(), "%lx-%lx", &desde, &hasta) != 2)
            continue;
        for (std::uint64_t p = desde / pagina; p < hasta / pagina;) {
            const std::size_t n = std::min<std::uint64_t>(entradas.size(), hasta / pagina - p);
            const ssize_t leidos = ::pread(mapa, entradas.data(), n * 8, off_t(p * 8));
            if (leidos <= 0)
                break;
            for (ssize_t i = 0; i < leidos / 8; ++i) {
                const std::uint64_t e = entradas[std::size_t(i)];
                if (!(e >> 63)) // not present (swapped pages are left out on both sides)
                    continue;
                const std::uint64_t marco = e & ((std::uint64_t(1) << 55) - 1);
                if (marco == 0)
                    visibles = false;
                marcos.insert(marco);
            }
            p += std::uint64_t(leidos / 8);
        }
    }
    ::close(mapa);
    return visibles;
}

} // namespace

std::vector<pid_t> arbolDeProcesos(pid_t raiz) {
    std::multimap<pid_t, pid_t> hijos;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9')
                continue;
            hijos.emplace(padreDe(e->d_name), pid_t(std::atol(e->d_name)));
        }
        ::closedir(proc);
    }
    std::vector<pid_t> arbol{raiz};
    for (std::size_t i = 0; i < arbol.size(); ++i) {
        const auto [desde, hasta] = hijos.equal_range(arbol[i]);
        for (auto it = desde; it != hasta; ++it)
            arbol.push_back(it->second);
    }
    return arbol;
}

double cpuDeDescendientes() {
    const double tic = double(::sysconf(_SC_CLK_TCK));
    double segundos = 0;
    const auto arbol = arbolDeProcesos(::getpid());
    for (std::size_t i = 1; i < arbol.size(); ++i) {
        // utime, stime, cutime, cstime: fields 14 to 17.
        const auto campos = camposDeStat(std::to_string(arbol[i]));
        for (std::size_t campo = 14; campo <= 17 && campo - 3 < campos.size(); ++campo)
            segundos += double(std::atoll(campos[campo - 3].c_str())) / tic;
    }
    rusage hijos{};
    ::getrusage(RUSAGE_CHILDREN, &hijos);
    const auto aSegundos = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return segundos + aSegundos(hijos.ru_utime) + aSegundos(hijos.ru_stime);
}

MemoriaArbol memoriaDelArbol(pid_t raiz) {
    MemoriaArbol m;
    std::unordered_set<std::uint64_t> marcos;
    bool visibles = true;
    for (const pid_t pid : arbolDeProcesos(raiz)) {
        m.pssKb += pssKb(pid);
        visibles = anadeMarcos(pid, marcos) && visibles;
        ++m.procesos;
    }
    if (visibles)
        m.unicaKb = long(marcos.size()) * ::sysconf(_SC_PAGESIZE) / 1024;
    return m;
}

Hijo::Hijo(const std::vector<std::string>& argv) {
    int haciaHijo[2], desdeHijo[2];
    if (::pipe2(haciaHijo, O_CLOEXEC) != 0 || ::pipe2(desdeHijo, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    posix_spawn_file_actions_adddup2(&acciones, haciaHijo[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&acciones, desdeHijo[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int error = posix_spawn(&pid_, args[0], &acciones, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&acciones);
    ::close(haciaHijo[0]);
    ::close(desdeHijo[1]);
    entrada_ = haciaHijo[1];
    salida_ = ::fdopen(desdeHijo[0], "r");
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

Hijo::~Hijo() {
    // End of input asks it to quit, so that it closes its own login processes; a child that does not
    // is killed.
    ::close(entrada_);
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        ::usleep(10000);
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (salida_)
        std::fclose(salida_);
}

std::string Hijo::leeLinea() {
    std::string linea;
    for (int c; (c = std::fgetc(salida_)) != EOF && c != '\n';)
        linea += char(c);
    return linea;
}

void Hijo::escribeLinea(const std::string& linea) {
    const std::string texto = linea + "\n";
    if (::write(entrada_, texto.data(), texto.size()) != ssize_t(texto.size()))
        throw std::runtime_error("write to child");
}

} // namespace bench
