#include "login_process/Relevo.h"
#include "login_process/ResolucionNombres.h"
#include "tests/support/AperturaPrueba.h"
#include "tests/support/ConexionComoDbLib.h"

#include <gtest/gtest.h>

#include <poll.h>

using namespace login_shared;
using namespace login_process;
using namespace std::chrono_literals;

// The relay's own deadline, on its own: bytes that keep coming from either
// side do not move it, and at it db-lib's wait ends and its read finds the
// connection shut, so that it returns at once and the server's session ends.
TEST(RelevoDeLogin, TheDeadlineEndsDbLibsWaitWhateverKeepsTrickling) {
    stand_in::Server servidor(configConSa(stand_in::Fault::TricklePrelogin, 100ms));
    servidor.start();
    const Plazo plazo(800ms);
    Relevo relevo(resuelveConTabla("127.0.0.1", {}, plazo).direcciones, servidor.port(), plazo, nullptr);

    const int cliente = conectaConPrelogin(relevo);
    ASSERT_GE(cliente, 0);

    // The server trickles its reply a byte at a time, and the client keeps sending too, waiting
    // as db-lib does, a second at a time.
    bool cerrado = false;
    std::size_t recibidos = 0;
    while (!cerrado && plazo.transcurrido() < 3s) {
        pollfd p{cliente, POLLIN, 0};
        if (relevo.espera(&p, 1, 1000) > 0) {
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
    EXPECT_GT(recibidos, 0u) << "nada del servidor pasó por el relevo";
    EXPECT_TRUE(cerrado) << "el relevo no cerró la conexión de db-lib";
    // Bytes every 100 ms would keep a deadline that moved open past the loop's 3 s; the
    // margin is for a busy machine.
    EXPECT_GE(alCerrar, 750ms);
    EXPECT_LT(alCerrar, 800ms + 1200ms);
    EXPECT_TRUE(relevo.resultado().agotado);
    EXPECT_TRUE(servidor.waitAllClosed(500ms)) << "la sesión del servidor no acabó";
}
