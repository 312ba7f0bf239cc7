#pragma once

#include "login_process/JuicioCertificado.h"
#include "login_process/LectorRespuestaLogin.h"
#include "login_process/ResolucionNombres.h"
#include "login_process/SeguidorEtapas.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace login_process {

using login_shared::Etapa;
using login_shared::Plazo;

// db-lib cannot be told to give up at a deadline, tries each address with its
// full timeout and says nothing about where a login is waiting; the relay does
// all three. db-lib is told to connect to a loopback port that this process
// holds bound and never listens on, and its socket calls on that connection
// come here (the login process's executable passes them on, LlamadasDbLib.cpp):
// its connect tries the server's addresses within the time left (a new one
// every 250 ms while earlier ones hang, as RFC 8305 does) and puts the
// server's connection in place of db-lib's socket; every byte it then sends or
// receives is followed for the login's stages; and its waits end at the
// deadline, when the connection is shut so that db-lib returns at once. No
// byte is copied on the way, and no other connection is made: nothing on this
// machine can connect to a login, and a connect the calls did not reach is
// refused by the port.
//
// One relay at a time in a process, and db-lib's calls on the thread that
// made it; resultado() may be asked from any thread.
class Relevo {
public:
    enum class Cierre { Ninguno, ServidorCerro, ServidorReinicio };
    struct Resultado {
        bool conectado = false;      // a TCP connection to the server was made
        bool agotado = false;        // the deadline ended the login
        std::vector<int> erroresTcp; // errno of each address that failed to connect
        Cierre cierre = Cierre::Ninguno;
        Etapa etapa = Etapa::ConexionTcp;
        int alertaTls = -1;            // the server's TLS alert during the handshake, if any
        std::string direccion;         // the address that took the connection
        DireccionIp extremo;           // the same with its port, for another connection to it
        std::string primerosServidor;  // the server's first bytes, as they came
        std::string versionServidor;   // from its PRELOGIN reply ("16.0.4135"); empty: none came
        bool loginCifrado = false;     // LOGIN7 went inside TLS
        bool sesionCifrada = false;    // and so did everything after it
        std::uint16_t versionTls = 0;  // as the ServerHello chose it (0x0303 = TLS 1.2)
        std::string handshakeServidor; // the server's clear handshake records (SeguidorEtapas)
        // The login reply as it came, when it came in clear: db-lib keeps neither the LOGINACK's
        // version when it does not know it, nor a message's text past a NUL.
        std::optional<std::uint32_t> versionTdsServidor;
        std::vector<MensajeRespuesta> mensajes;
        std::uint64_t erroresOmitidos = 0;
        bool finConError = false; // its DONE had the error flag
        // How far this process read the login reply, in clear or as TLS decrypted it for db-lib,
        // and why it stopped when it could not read on.
        LectorRespuestaLogin::Estado respuesta = LectorRespuestaLogin::Estado::Leyendo;
        std::string motivoRespuesta;
        // NTLM's AUTHENTICATE, the proof of the password, went to the server.
        bool pruebaEnviada = false;
        // At the deadline the server was sending: it had answered the last request in part.
        bool respondiendo = false;
        // The server's certificate, refused as a client that checks it refuses it: LOGIN7 never went.
        std::optional<JuicioCertificado> certificadoRechazado;
        // The same judgement when it let the login go.
        std::optional<JuicioCertificado> certificadoAceptado;
        // At the deadline: the time went on this machine, not on the server. The server's answer,
        // or its TCP connection, was waiting unread, or it had answered everything it was asked
        // while this side took most of the time (stopped, or starved of a processor).
        bool retrasoLocal = false;
        // The longest the server took to answer one request, as the kernel timed its arrival;
        // none when it answered none (or was only connected to).
        std::optional<std::chrono::milliseconds> respuestaMaximaServidor;
    };

    // `alCambiarEtapa` is called on db-lib's thread, from its calls.
    Relevo(std::vector<DireccionIp> destinos, std::uint16_t puerto, Plazo plazo,
           std::function<void(Etapa)> alCambiarEtapa);
    ~Relevo(); // shuts the server's connection if db-lib still holds it
    Relevo(const Relevo&) = delete;
    Relevo& operator=(const Relevo&) = delete;

    // The loopback port db-lib is told to connect to, held from the first call
    // on for this process and those it forks; throws std::system_error.
    static std::uint16_t puertoLocal();
    // Logged in: the deadline no longer applies to this connection.
    void liberaPlazo();
    // Called once, as soon as LOGIN7 has been passed on to the server; an empty one stops it being called.
    void alEnviarLogin(std::function<void()> aviso);
    // Called once, as LOGIN7 is about to go inside TLS, with the server's clear handshake records:
    // a cause in its verdict stops the login there, before the password leaves.
    void juzgaAntesDelLogin(std::function<JuicioCertificado(const std::string& handshake)> juez);
    Resultado resultado() const;

    // What TLS decrypted for db-lib: the server's bytes in clear once the whole session is encrypted.
    void descifrado(const char* datos, std::size_t n);

    // db-lib's calls, each answering as the C library's would, errno included.
    // connect() to puertoLocal(): `fd` becomes the connection to the server.
    int conecta(int fd);
    ssize_t envia(int fd, const void* datos, std::size_t n, int flags);
    ssize_t recibe(int fd, void* datos, std::size_t n, int flags);
    int espera(pollfd* fds, nfds_t n, int milisegundos);
    // Before db-lib closes `fd`.
    void cierra(int fd);

    // The relay of the login under way in this process whose port `direccion`
    // is, or whose connection `fd` is; none otherwise.
    static Relevo* deDireccion(const sockaddr* direccion, socklen_t longitud);
    static Relevo* deDescriptor(int fd);
    // The relay whose login db-lib is holding a connection for, if any.
    static Relevo* conConexion();

    struct Tiempos;

private:
    void cambiaEtapa(Etapa etapa);
    // At the deadline, once: decides whether the time went on this machine, and
    // shuts the connection so that db-lib's wait and read end.
    void venceElPlazo(const std::vector<int>& intentos);
    bool plazoVencido() const;
    // The deadline has ended the login (and does so now if it has passed).
    bool terminado();
    std::string primerosDelServidor(int fd) const;
    // The server ended the connection: with `error` (0 for its close).
    void anotaCierre(int error);
    // The result `r` of db-lib's wait, once what it says of the connection is noted.
    int anotaError(const pollfd* fds, nfds_t n, int r);

    std::vector<DireccionIp> destinos_;
    std::uint16_t puerto_;
    Plazo plazo_;
    std::function<void(Etapa)> alCambiarEtapa_;
    std::function<void()> alEnviarLogin_;
    std::function<JuicioCertificado(const std::string&)> juez_;

    // Only on db-lib's thread.
    SeguidorEtapas seguidor_;
    std::unique_ptr<Tiempos> tiempos_;
    bool intentado_ = false;   // one login, one connection
    int descriptorDbLib_ = -1; // its connection to the server, until it closes it
    bool loginEnviado_ = false;

    mutable std::mutex mutex_;
    Resultado resultado_;
    LectorRespuestaLogin respuesta_;
    bool liberado_ = false;
};

} // namespace login_process
