#include "login_process/Relevo.h"
#include "login_process/ResolucionNombres.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/ConexionComoDbLib.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace login_shared;
using namespace login_process;
using namespace std::chrono_literals;

// The relay's own deadline, on its own: a server that keeps trickling, or says
// nothing, does not move it; at it db-lib's wait ends, however long db-lib
// asked to wait, and its read finds the connection shut, so that it returns at
// once and the server's session ends. The deadline is not a whole number of
// seconds: it holds to the millisecond, never a moment early.
TEST(RelevoDeLogin, TheDeadlineEndsDbLibsWaitWhateverKeepsTrickling) {
    const std::pair<const char*, stand_in::Fault> casos[] = {
        {"un byte cada 100 ms", stand_in::Fault::TricklePrelogin},
        {"nada", stand_in::Fault::NeverAnswerPrelogin},
    };
    for (const auto& [servidorDice, fallo] : casos) {
        SCOPED_TRACE(servidorDice);
        stand_in::Server servidor(configConSa(fallo, 100ms));
        servidor.start();
        const Plazo plazo(1300ms);
        Relevo relevo(resuelveConTabla("127.0.0.1", {}, plazo).direcciones, servidor.port(), plazo, nullptr);

        const int cliente = conectaConPrelogin(relevo);
        ASSERT_GE(cliente, 0);

        // The client keeps sending too, and waits far longer than the deadline each time.
        bool cerrado = false;
        std::size_t recibidos = 0;
        while (!cerrado && plazo.transcurrido() < 6s) {
            pollfd p{cliente, POLLIN, 0};
            if (relevo.espera(&p, 1, 4000) > 0) {
                char trozo[256];
                const ssize_t n = relevo.recibe(cliente, trozo, sizeof trozo, 0);
                cerrado = n <= 0;
                recibidos += std::size_t(std::max<ssize_t>(n, 0));
                if (!cerrado)
                    relevo.envia(cliente, "\0", 1, MSG_NOSIGNAL);
            }
        }
        const auto alCerrar = plazo.transcurrido();
        relevo.cierra(cliente);
        ::close(cliente);
        if (fallo == stand_in::Fault::TricklePrelogin) {
            EXPECT_GT(recibidos, 0u) << "nada del servidor pasó por el relevo";
        }
        EXPECT_TRUE(cerrado) << "el relevo no cerró la conexión de db-lib";
        // Bytes every 100 ms would keep a deadline that moved open past the loop's 6 s, a deadline
        // cut to whole seconds would end at 1 s, or 2, and a wait left alone at 4 s; the margin is
        // for a busy machine.
        EXPECT_GE(alCerrar, 1300ms);
        EXPECT_LT(alCerrar, 1300ms + 600ms);
        EXPECT_TRUE(relevo.resultado().agotado);
        EXPECT_TRUE(servidor.waitAllClosed(500ms)) << "la sesión del servidor no acabó";
    }
}

// A reply that came before the deadline and was still unread at it is not
// handed to db-lib: the login ended there, and must not be called a success.
TEST(RelevoDeLogin, AReplyQueuedBeforeTheDeadlineIsNotReadAfterIt) {
    stand_in::Server servidor(configConSa());
    servidor.start();
    const Plazo plazo(700ms);
    Relevo relevo(resuelveConTabla("127.0.0.1", {}, plazo).direcciones, servidor.port(), plazo, nullptr);
    const int cliente = conectaConPrelogin(relevo);
    ASSERT_GE(cliente, 0);
    // The PRELOGIN reply waits in the socket (looked at past the relay), and the deadline passes.
    pollfd p{cliente, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 600), 1) << "el servidor no respondió a tiempo";
    while (!plazo.agotado())
        std::this_thread::sleep_for(plazo.restante() + 1ms);
    char trozo[256];
    EXPECT_EQ(relevo.recibe(cliente, trozo, sizeof trozo, 0), 0);
    EXPECT_TRUE(relevo.resultado().agotado);
    relevo.cierra(cliente);
    ::close(cliente);
}

// At the deadline, a server's answer that lay unread for 250 ms or more says
// that this side was late, not the server; one that came in the last moments
// does not. The server here is a socket of the test's, which answers the
// PRELOGIN at once (read at once) and then sends more, either right away or
// just before the deadline, left unread. A case whose timing this machine
// disturbed (the test itself ran late) is tried again.
TEST(RelevoDeLogin, AnAnswerLeftUnreadIsThisSidesDelayOnlyPastTheThreshold) {
    const std::string respuesta = [] {
        const std::string carga = stand_in::encodePreloginReply({}, stand_in::encrypt::notSupported);
        const std::size_t largo = carga.size() + 8;
        return std::string("\x04\x01", 2) + char(largo >> 8) + char(largo & 0xFF) +
               std::string("\0\0\1\0", 4) + carga;
    }();
    // Runs one login to its 1.3-s deadline, the second answer sent `antesDelPlazo` before it: whether
    // the relay took the delay for this side's. None when the timing was disturbed: the time from
    // that send to the relay's look at the deadline, which bounds the gap the relay measures, must
    // stay under `maximo`.
    const auto prueba = [&](std::chrono::milliseconds antesDelPlazo,
                            std::chrono::milliseconds maximo) -> std::optional<bool> {
        const int escucha = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        if (::bind(escucha, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(escucha, 1) != 0 ||
            ::getsockname(escucha, reinterpret_cast<sockaddr*>(&a), &l) != 0) {
            ::close(escucha);
            return std::nullopt;
        }
        const Plazo plazo(1300ms);
        std::optional<bool> local;
        {
            Relevo relevo(resuelveConTabla("127.0.0.1", {}, plazo).direcciones, ntohs(a.sin_port), plazo,
                          nullptr);
            const int cliente = conectaConPrelogin(relevo);
            const int servidor = ::accept4(escucha, nullptr, nullptr, SOCK_CLOEXEC);
            char trozo[4096];
            pollfd p{cliente, POLLIN, 0};
            const bool contestado =
                cliente >= 0 && servidor >= 0 && ::recv(servidor, trozo, sizeof trozo, 0) > 0 &&
                ::send(servidor, respuesta.data(), respuesta.size(), MSG_NOSIGNAL) ==
                    ssize_t(respuesta.size()) &&
                ::poll(&p, 1, 1000) == 1 && relevo.recibe(cliente, trozo, sizeof trozo, 0) > 0;
            if (contestado) {
                // Past the relay: its waits are not this test's to oversleep.
                while (plazo.restante() > antesDelPlazo)
                    std::this_thread::sleep_for(plazo.restante() - antesDelPlazo);
                const auto enviado = Reloj::now();
                const bool otro = ::send(servidor, "\x04", 1, MSG_NOSIGNAL) == 1;
                while (!plazo.agotado())
                    std::this_thread::sleep_for(plazo.restante() + 1ms);
                const bool acabado = relevo.recibe(cliente, trozo, sizeof trozo, 0) == 0;
                const auto visto = Reloj::now() - enviado;
                if (otro && acabado && relevo.resultado().agotado && visto < maximo &&
                    visto > antesDelPlazo - 50ms)
                    local = relevo.resultado().retrasoLocal;
            }
            if (cliente >= 0) {
                relevo.cierra(cliente);
                ::close(cliente);
            }
            if (servidor >= 0)
                ::close(servidor);
        }
        ::close(escucha);
        return local;
    };
    struct Caso {
        const char* nombre;
        std::chrono::milliseconds antesDelPlazo, maximo;
        bool local;
    };
    const Caso casos[] = {
        // Unread for about 1.2 s: far past the threshold, far short of 2 s.
        {"unread for over a second", 1200ms, 1700ms, true},
        // Unread for 60 ms, and for less than 200 ms whatever this machine did.
        {"sent 60 ms before the deadline", 60ms, 200ms, false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        std::optional<bool> local;
        for (int intento = 0; intento < 5 && !local; ++intento)
            local = prueba(caso.antesDelPlazo, caso.maximo);
        ASSERT_TRUE(local.has_value()) << "esta máquina retrasó la prueba cinco veces";
        EXPECT_EQ(*local, caso.local);
    }
}
