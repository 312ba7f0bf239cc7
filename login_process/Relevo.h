#pragma once

#include "login_process/HiloRelevo.h"
#include "login_process/LectorRespuestaLogin.h"
#include "login_process/ResolucionNombres.h"
#include "login_shared/Descriptor.h"
#include "login_shared/Plazo.h"
#include "login_shared/Resumen.h"

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace login_process {

using login_shared::Descriptor;
using login_shared::Etapa;
using login_shared::Plazo;

// db-lib connects here, on loopback, instead of to the server; the relay
// connects to the server and passes every byte through unchanged. db-lib
// cannot be told to give up at a deadline, tries each address with its full
// timeout and says nothing about where a login is waiting; the relay does
// all three: it tries the server's addresses within the time left (a new
// one every 250 ms while earlier ones hang, as RFC 8305 does), follows the
// login's stages from the TDS packet headers, and closes both sides at the
// deadline so that db-lib returns at once.
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
        int extranosRechazados = 0;    // connections from anything but this process's db-lib
        // The login reply as it came, when it came in clear: db-lib keeps neither the LOGINACK's
        // version when it does not know it, nor a message's text past a NUL.
        std::optional<std::uint32_t> versionTdsServidor;
        std::vector<MensajeRespuesta> mensajes;
        std::uint64_t erroresOmitidos = 0;
        bool finConError = false; // its DONE had the error flag
        // At the deadline: the time went on this machine, not on the server. The server's answer,
        // or its TCP connection, was waiting unread, or it had answered everything it was asked
        // while this side took most of the time (stopped, or starved of a processor).
        bool retrasoLocal = false;
        // The longest the server took to answer one request, as the kernel timed its arrival;
        // none when it answered none (or was only connected to).
        std::optional<std::chrono::milliseconds> respuestaMaximaServidor;
    };

    // Starts listening and connecting at once; `alCambiarEtapa` is called on
    // the relay's thread.
    Relevo(std::vector<DireccionIp> destinos, std::uint16_t puerto, Plazo plazo,
           std::function<void(Etapa)> alCambiarEtapa);
    ~Relevo(); // closes both sides and joins the thread
    Relevo(const Relevo&) = delete;
    Relevo& operator=(const Relevo&) = delete;

    std::uint16_t puertoLocal() const { return puertoLocal_; }
    // Logged in: the deadline no longer applies to this connection.
    void liberaPlazo();
    // Called on the relay's thread once, as soon as LOGIN7 has been passed on to the
    // server; an empty one stops it being called (it is never running once this returns).
    void alEnviarLogin(std::function<void()> aviso);
    Resultado resultado() const;

private:
    void bucle();
    // Takes db-lib's connection if it is waiting; closes any other.
    void aceptaCliente(Descriptor& cliente);
    void rechazaHastaParar();
    void cambiaEtapa(Etapa etapa);
    // Decides, at the deadline, whether the time went on this machine (Resultado::retrasoLocal).
    struct Tiempos;
    void juzgaRetraso(Tiempos& t, int servidor, const std::vector<int>& intentos, bool leyendoServidor);

    std::vector<DireccionIp> destinos_;
    std::uint16_t puerto_;
    Plazo plazo_;
    std::function<void(Etapa)> alCambiarEtapa_;

    Descriptor escucha_;
    Descriptor despertador_[2]; // wakes the relay's thread
    std::uint16_t puertoLocal_ = 0;

    std::mutex avisoMutex_; // held while alEnviarLogin_ runs
    std::function<void()> alEnviarLogin_;

    mutable std::mutex mutex_;
    Resultado resultado_;
    LectorRespuestaLogin respuesta_;
    bool liberado_ = false;
    bool parar_ = false;
    std::optional<HiloRelevo> hilo_;
};

} // namespace login_process
