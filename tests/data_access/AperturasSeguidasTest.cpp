// Consecutive opens through the connection object against the loopback
// stand-in (success over TLS, wrong password, refused port, named instance
// when UDP 1434 can be bound), checking that descriptors, threads, child
// processes, resident memory and temporary files stay flat, and that login
// processes do not pile up. The stand-in
// runs in a process of its own: its thread per connection would move this
// process's memory, and that is not what is measured.
//
//     data_access_soak [rondas]     (default 1000; each round is one open of each kind)
//
// Prints the figures at the start and the end; exits 1 if anything grew.
#include "data_access/Lanzadera.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/LoopbackPropio.h"
#include "tests/support/RecursosProceso.h"

#include "tests/stand_in/browser_responder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace data_access;

namespace {

long residenteKb() {
    std::ifstream estado("/proc/self/status");
    std::string linea;
    while (std::getline(estado, linea))
        if (linea.rfind("VmRSS:", 0) == 0)
            return std::atol(linea.c_str() + 6);
    return 0;
}

pid_t gServidor = -1;

// Children of this process other than the stand-in: login processes left behind.
int hijosVivos() {
    const auto hijos = procesosHijos();
    return int(
        std::count_if(hijos.begin(), hijos.end(), [](const ProcesoHijo& h) { return h.pid != gServidor; }));
}

struct Figuras {
    int descriptores = descriptoresAbiertos();
    int hilos = hilosVivos();
    int hijos = hijosVivos();
    long residente = residenteKb();
    int temporales = archivosTemporales();
};

void imprime(const char* cuando, const Figuras& f) {
    std::printf("%-8s descriptores %d, hilos %d, hijos vivos %d, residente %ld kB, temporales %d\n", cuando,
                f.descriptores, f.hilos, f.hijos, f.residente, f.temporales);
}

// True when the open ended as expected.
bool abre(const std::string& servidor, const std::string& password, bool debeAbrir) {
    ConexionFreeTds c(std::chrono::seconds(5));
    const Apertura r = intentaAbrir(c, cadena(servidor, "User ID=sa;Password=" + password + ";"));
    if (debeAbrir && !r.abierta)
        std::fprintf(stderr, "%s\n", r.descripcion.c_str());
    return r.abierta == debeAbrir;
}

// Runs the stand-in (and a browser, as root) until the soak ends; returns its port, and its
// address in `direccion`: the browser's, a loopback address of its own.
std::uint16_t lanzaServidor(int& vida, bool& conBrowser, std::string& direccion) {
    int puerto[2], tuboVida[2];
    if (::pipe(puerto) != 0 || ::pipe(tuboVida) != 0)
        std::exit(2);
    conBrowser = ::geteuid() == 0;
    gServidor = ::fork();
    if (gServidor == 0) {
        ::close(puerto[0]);
        ::close(tuboVida[1]);
        std::unique_ptr<stand_in::BrowserResponder> browser;
        std::string d = "127.0.0.82";
        if (conBrowser)
            d = loopbackPropio([&](const std::string& candidata) {
                browser = std::make_unique<stand_in::BrowserResponder>(
                    candidata, "STANDIN", std::vector<stand_in::BrowserInstance>{});
                browser->start();
            });
        stand_in::Config config = configConSa();
        config.encryption = stand_in::Encryption::Required;
        config.address = d; // the browser's address, where the instance's port must be
        stand_in::Server servidor(config);
        servidor.start();
        if (browser)
            browser->setInstances({{"SQLEXPRESS", servidor.port()}});
        char mensaje[sizeof(std::uint16_t) + 16] = {};
        const std::uint16_t p = servidor.port();
        std::memcpy(mensaje, &p, sizeof p);
        d.copy(mensaje + sizeof p, 15);
        [[maybe_unused]] auto n = ::write(puerto[1], mensaje, sizeof mensaje);
        char c;
        while (::read(tuboVida[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(puerto[1]);
    ::close(tuboVida[0]);
    char mensaje[sizeof(std::uint16_t) + 16] = {};
    if (::read(puerto[0], mensaje, sizeof mensaje) != sizeof mensaje)
        std::exit(2);
    ::close(puerto[0]);
    vida = tuboVida[1];
    std::uint16_t p = 0;
    std::memcpy(&p, mensaje, sizeof p);
    direccion = mensaje + sizeof p;
    return p;
}

} // namespace

int main(int argc, char** argv) {
    const int rondas = argc > 1 ? std::atoi(argv[1]) : 1000;
    // A temporary folder of its own, for the opens and their login processes: the files that
    // tests running beside it write to the shared one are not this one's to count.
    std::string carpeta = (std::filesystem::temp_directory_path() / "aperturas-seguidas-XXXXXX").string();
    if (!::mkdtemp(carpeta.data()) || ::setenv("TMPDIR", carpeta.c_str(), 1) != 0) {
        std::perror("mkdtemp");
        return 2;
    }
    int vida = -1;
    bool browser = false;
    std::string direccion;
    const std::uint16_t puerto = lanzaServidor(vida, browser, direccion);
    const std::string enPuerto = servidorEn(puerto, direccion);
    const std::string cerrado = "127.0.0.1,1";

    // One warm-up round: the first open loads what every later one reuses.
    abre(enPuerto, "Secr3t!", true);
    terminaServidorLogins();
    const Figuras antes;
    imprime("antes", antes);
    int errores = 0;
    for (int i = 0; i < rondas; ++i) {
        errores += !abre(enPuerto, "Secr3t!", true);
        errores += !abre(enPuerto, "otra", false);
        errores += !abre(cerrado, "Secr3t!", false);
        if (browser)
            errores += !abre(direccion + "\\SQLEXPRESS", "Secr3t!", true);
        if (rondas >= 8 && (i + 1) % (rondas / 4) == 0 && i + 1 < rondas)
            imprime(("ronda " + std::to_string(i + 1)).c_str(), Figuras());
    }
    // The login server, and the last login process, which may still be ending:
    // no more, however many opens there were.
    const int enEspera = hijosVivos();
    terminaServidorLogins();
    const Figuras despues;
    imprime("después", despues);
    std::printf("procesos de login antes de terminarlos: %d\n", enEspera);
    std::printf("%d rondas, %d aperturas, %d resultados inesperados\n", rondas, rondas * (browser ? 4 : 3),
                errores);

    // Resident memory may move a little with the allocator; a leak per open would not.
    // AddressSanitizer's quarantine grows it by design: there LeakSanitizer judges leaks.
#ifdef __SANITIZE_ADDRESS__
    const long margenResidente = 1L << 30;
#else
    const long margenResidente = 512;
#endif
    const bool plano = enEspera <= 2 && despues.descriptores == antes.descriptores &&
                       despues.hilos == antes.hilos && despues.hijos == 0 &&
                       despues.temporales == antes.temporales &&
                       despues.residente <= antes.residente + margenResidente;
    ::close(vida);
    ::waitpid(gServidor, nullptr, 0);
    std::filesystem::remove_all(carpeta);
    return plano && errores == 0 ? 0 : 1;
}
