// Many connection objects opening at once from several threads, as tarpelino-lote runs them.
#include "data_access/ConexionFreeTds.h"
#include "data_access/Lanzadera.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dirent.h>
#include <fstream>
#include <thread>

namespace {

// Children of this process still alive (zombies not counted) that are login
// processes or the login server (tarpelino-login renames itself tarpelino-lanza).
int procesosLoginVivos() {
    int n = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string linea;
        if (!std::getline(stat, linea))
            continue;
        // "pid (comm) state ppid ...": comm may hold blanks, so read after its closing parenthesis.
        const auto cierre = linea.rfind(')');
        const auto apertura = linea.find('(');
        if (cierre == std::string::npos || apertura == std::string::npos)
            continue;
        char estado = 0;
        int padre = 0;
        if (std::sscanf(linea.c_str() + cierre + 1, " %c %d", &estado, &padre) != 2)
            continue;
        const std::string nombre = linea.substr(apertura + 1, cierre - apertura - 1);
        if (padre == ::getpid() && estado != 'Z' &&
            (nombre == "tarpelino-login" || nombre == "tarpelino-lanza"))
            ++n;
    }
    if (proc)
        ::closedir(proc);
    return n;
}

void aLaVez(int hilos, const std::function<void(int)>& trabajo) {
    std::atomic<int> listos{0};
    std::vector<std::thread> t;
    for (int h = 0; h < hilos; ++h)
        t.emplace_back([&, h] {
            ++listos;
            while (listos < hilos)
                std::this_thread::yield();
            trabajo(h);
        });
    for (auto& x : t)
        x.join();
}

} // namespace

TEST(AperturasConcurrentes, TheLoginServerIsOneHoweverManyThreadsStartItAtOnce) {
    data_access::terminaServidorLogins();
    aLaVez(16, [&](int) { data_access::preparaLogins(); });
    EXPECT_EQ(procesosLoginVivos(), 1);
    data_access::terminaServidorLogins();
    EXPECT_EQ(procesosLoginVivos(), 0);
}

TEST(AperturasConcurrentes, ManyObjectsOpeningAtOnceEachGetTheirOwnLoginAndLeaveNothingBehind) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    constexpr int kHilos = 12;
    constexpr int kVueltas = 4;
    std::atomic<int> correctas{0};
    std::vector<std::string> fallos(kHilos);
    aLaVez(kHilos, [&](int h) {
        for (int v = 0; v < kVueltas; ++v) {
            const bool es2005 = (h + v) % 2 == 0;
            data_access::ConexionFreeTds c;
            const Apertura a = intentaAbrir(
                c, cadena(servidorEn(servidor.port()), kLoginSa, es2005 ? "SQLNCLI" : "SQLNCLI10"));
            const auto datos = c.datosApertura();
            if (a.abierta && datos && datos->abierta &&
                datos->resumen.versionTds == (es2005 ? "7.2" : "7.3") &&
                datos->resumen.puerto == servidor.port())
                ++correctas;
            else
                fallos[h] = a.descripcion;
        }
    });
    for (const std::string& f : fallos)
        EXPECT_EQ(f, "");
    EXPECT_EQ(correctas, kHilos * kVueltas);
    EXPECT_EQ(int(servidor.logins().size()), kHilos * kVueltas);
    // The server and the logins closing, all ended and reaped.
    data_access::terminaServidorLogins();
    EXPECT_EQ(procesosLoginVivos(), 0);
    EXPECT_TRUE(servidor.waitAllClosed(std::chrono::seconds(10)));
}
