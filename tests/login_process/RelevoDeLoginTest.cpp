#include "login_process/Relevo.h"
#include "login_process/ResolucionNombres.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/ConexionComoDbLib.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <thread>
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
