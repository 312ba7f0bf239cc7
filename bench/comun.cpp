#include "bench/comun.h"

#include <sybdb.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace bench {

double segundosDesde(Reloj::time_point inicio) {
    return std::chrono::duration<double>(Reloj::now() - inicio).count();
}

stand_in::Config configuracionServidor(stand_in::Encryption cifrado) {
    stand_in::Config c;
    c.logins = {{kUsuario, kPassword}};
    c.encryption = cifrado;
    return c;
}

ArchivoFreeTds::ArchivoFreeTds(const std::vector<Seccion>& secciones) {
    char plantilla[] = "/tmp/tarpelino-bench-XXXXXX";
    const int fd = ::mkstemp(plantilla);
    if (fd < 0)
        throw std::runtime_error("mkstemp");
    ruta_ = plantilla;
    std::string texto;
    for (const auto& s : secciones)
        texto += "[" + s.nombre + "]\n\thost = " + s.host + "\n\tport = " + std::to_string(s.puerto) +
                 "\n\ttds version = " + s.versionTds + "\n\tencryption = request\n\tclient charset = UTF-8\n";
    if (::write(fd, texto.data(), texto.size()) != ssize_t(texto.size()))
        throw std::runtime_error("write");
    ::close(fd);
}

ArchivoFreeTds::~ArchivoFreeTds() {
    ::unlink(ruta_.c_str());
}

namespace {

// Anything but INT_CANCEL makes db-lib exit() on a failed login.
int sinSalir(DBPROCESS*, int, int, int, char*, char*) {
    return INT_CANCEL;
}
int sinMensajes(DBPROCESS*, DBINT, int, int, char*, char*, char*, int) {
    return 0;
}

} // namespace

bool loginDbLib(const ArchivoFreeTds& archivo, const std::string& seccion, int versionDbLib) {
    static const bool iniciado = [] {
        dbinit();
        dberrhandle(sinSalir);
        dbmsghandle(sinMensajes);
        dbsetlogintime(15);
        return true;
    }();
    (void)iniciado;
    dbsetifile(const_cast<char*>(archivo.ruta().c_str()));
    LOGINREC* login = dblogin();
    DBSETLUSER(login, kUsuario.c_str());
    DBSETLPWD(login, kPassword.c_str());
    DBSETLAPP(login, "Tarpelino");
    DBSETLCHARSET(login, "UTF-8");
    DBSETLDBNAME(login, "MASTER");
    dbsetlversion(login, BYTE(versionDbLib));
    DBPROCESS* proceso = dbopen(login, seccion.c_str());
    if (proceso)
        dbclose(proceso);
    dbloginfree(login);
    return proceso != nullptr;
}

std::uint16_t puertoCerrado() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        throw std::runtime_error("bind");
    ::close(s); // bound, never listened: connects are refused
    return ntohs(a.sin_port);
}

double mediana(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

namespace {
constexpr std::chrono::milliseconds kPausa{25};
} // namespace

void comparaIntercalado(benchmark::State& state, const std::function<void()>& a,
                        const std::function<void()>& b, int calentamiento) {
    for (int i = 0; i < calentamiento; ++i) {
        a();
        b();
    }
    std::vector<double> ta, tb, razones;
    bool aPrimero = true;
    for (auto _ : state) {
        double da = 0, db = 0;
        for (int lado = 0; lado < 2; ++lado) {
            const bool esA = (lado == 0) == aPrimero;
            const auto inicio = Reloj::now();
            esA ? a() : b();
            (esA ? da : db) = segundosDesde(inicio);
            // Untimed, as between a person's clicks: what a side left running (a
            // closed login's process on its way out) ends before the other side is timed.
            std::this_thread::sleep_for(kPausa);
        }
        aPrimero = !aPrimero;
        ta.push_back(da);
        tb.push_back(db);
        razones.push_back(da / db);
        state.SetIterationTime(da + db);
    }
    state.counters["componente_ms"] = mediana(ta) * 1e3;
    state.counters["suelo_ms"] = mediana(tb) * 1e3;
    state.counters["razon"] = mediana(razones);
    // Outliers the medians hide (a resolver retry, a busy neighbour).
    state.counters["componente_max_ms"] = *std::max_element(ta.begin(), ta.end()) * 1e3;
    state.counters["suelo_max_ms"] = *std::max_element(tb.begin(), tb.end()) * 1e3;
}

} // namespace bench
