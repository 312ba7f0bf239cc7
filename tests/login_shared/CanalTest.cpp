// The channel between the application and the login process: what it
// carries arrives whole within the reader's wait or not at all, a descriptor
// travels with its message, and a body of another protocol version is refused.
#include "login_shared/Canal.h"
#include "login_shared/Mensajes.h"
#include "login_shared/Peticion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

using namespace login_shared;
using namespace std::chrono_literals;
using Reloj = std::chrono::steady_clock;

// What the login process says arrives within the deadline or not at all:
// a message too long for the channel, or one that stops halfway, never holds
// the connection object past it.
TEST(CanalDeLogin, AnUnreadableOrStalledAnswerNeverHoldsTheReaderPastItsWait) {
    int par[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, par), 0);
    char tipo = 0;
    std::string cuerpo;

    ASSERT_TRUE(enviaMensaje(par[1], mensaje::kFallo, "motivo"));
    EXPECT_EQ(recibeMensaje(par[0], tipo, cuerpo, 100ms), Lectura::Mensaje);
    EXPECT_EQ(cuerpo, "motivo");

    const unsigned char demasiado[5] = {0x00, 0x00, 0x20, 0x00, 'F'}; // 2 MiB announced
    ASSERT_EQ(::write(par[1], demasiado, 5), 5);
    EXPECT_EQ(recibeMensaje(par[0], tipo, cuerpo, 5s), Lectura::Ilegible);

    const unsigned char aMedias[7] = {0x10, 0x00, 0x00, 0x00, 'F', 'a', 'b'}; // 16 announced, 2 sent
    ASSERT_EQ(::write(par[1], aMedias, 7), 7);
    const auto inicio = Reloj::now();
    EXPECT_EQ(recibeMensaje(par[0], tipo, cuerpo, 300ms), Lectura::Agotada);
    EXPECT_LT(Reloj::now() - inicio, 2s);

    ::close(par[1]);
    EXPECT_EQ(recibeMensaje(par[0], tipo, cuerpo, 300ms), Lectura::Fin);
    ::close(par[0]);
    EXPECT_FALSE(enviaMensaje(par[0], mensaje::kFallo, std::string((1 << 20) + 1, 'x')));
}

// What the application sends the server: the login's channel travels with
// the message and works on the other side; a malformed launch is refused,
// never half read.
TEST(CanalDelServidor, TheLoginsChannelTravelsWithItsLaunchAndABadLaunchIsRefused) {
    int canal[2], login[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, canal), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, login), 0);
    const Lanzamiento enviado{{"HOME=/home/prueba", "FREETDSCONF=a=b.conf"}, "/tmp/carpeta con espacios"};
    ASSERT_TRUE(enviaMensajeConDescriptor(canal[0], mensaje::kLanza, serializa(enviado), login[1]));
    ::close(login[1]);
    char tipo = 0;
    std::string cuerpo;
    int recibido = -1, error = 0;
    ASSERT_TRUE(recibeMensajeConDescriptor(canal[1], tipo, cuerpo, recibido, error));
    EXPECT_EQ(tipo, mensaje::kLanza);
    ASSERT_GE(recibido, 0);
    const Lanzamiento leido = deserializaLanzamiento(cuerpo);
    EXPECT_EQ(leido.entorno, enviado.entorno);
    EXPECT_EQ(leido.directorio, enviado.directorio);
    EXPECT_TRUE(enviaMensaje(recibido, mensaje::kFallo, "por el canal recibido"));
    EXPECT_EQ(recibeMensaje(login[0], tipo, cuerpo, 1s), Lectura::Mensaje);
    EXPECT_EQ(cuerpo, "por el canal recibido");
    ::close(recibido);

    std::string truncado = serializa(enviado);
    truncado.resize(truncado.size() - 3);
    EXPECT_THROW(deserializaLanzamiento(truncado), std::runtime_error);
    std::string mentiroso(24, '\0');
    mentiroso[0] = char(kVersionProtocolo);
    mentiroso[16] = '\xFF'; // a count of variables far beyond what the body holds
    EXPECT_THROW(deserializaLanzamiento(mentiroso), std::runtime_error);
    for (int fd : {canal[0], canal[1], login[0]})
        ::close(fd);
}

// Both ends come from one build: the first message of either conversation in another
// protocol version is refused, and the refusal says so.
TEST(CanalDelServidor, AFirstMessageOfAnotherProtocolVersionIsRefusedSayingSo) {
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> primeros{
        {serializa(Lanzamiento{{"HOME=/"}, "/"}), [](const std::string& c) { deserializaLanzamiento(c); }},
        {serializa(PeticionLogin{}), [](const std::string& c) { deserializa(c); }},
        {serializa(TablaResolucion{{"srv", {"127.0.0.1"}}}),
         [](const std::string& c) { deserializaTabla(c); }},
    };
    for (auto [cuerpo, lee] : primeros) {
        EXPECT_NO_THROW(lee(cuerpo));
        cuerpo[0] = char(kVersionProtocolo + 1);
        try {
            lee(cuerpo);
            ADD_FAILURE() << "a body of another version was read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("versión 2 del protocolo"), std::string::npos) << e.what();
        }
    }
}
