#pragma once

#include "login_shared/Resumen.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace login_process {

using login_shared::Etapa;

// Follows a login from the packet headers, which stay in clear until the
// TLS handshake is over (MS-TDS 2.2.6.5): the client's first packet is
// PRELOGIN, further 0x12 packets carry the handshake, then LOGIN7 goes
// either as raw TLS records or as a clear 0x10 packet.
class SeguidorEtapas {
public:
    // What is kept of the server's bytes for a description: its first ones
    // whatever they are, and the TLS records of its handshake flights.
    static constexpr std::size_t kPrimerosGuardados = 64;
    static constexpr std::size_t kHandshakeGuardado = 1 << 16;
    // A PRELOGIN reply is a few dozen bytes; its options point anywhere in one packet.
    static constexpr std::size_t kPreloginGuardado = 4096;

    Etapa etapa() const { return etapa_; }

    void delCliente(const char* datos, std::size_t n);
    // True when the client's next bytes are the first TLS record after the handshake: LOGIN7,
    // inside TLS, about to go.
    bool abreLoginCifrado(const char* datos, std::size_t n) const;
    // True when the bytes are the server's reply to LOGIN7 travelling in clear.
    bool delServidor(const char* datos, std::size_t n);

    int alertaTls() const { return alerta_; }
    bool loginCifrado() const { return crudo_; }
    bool sesionCifrada() const { return sesionCifrada_; }
    std::uint16_t versionTls() const { return versionTls_; }
    // The first bytes the server sent, as they came.
    const std::string& primerosDelServidor() const { return primerosServidor_; }
    // The payload of the server's packets during the TLS handshake: its
    // TLS records, in clear up to its Finished (TLS 1.2 and older).
    const std::string& handshakeDelServidor() const { return handshakeServidor_; }
    // What the server's PRELOGIN reply gave as its version ("16.0.4135"); empty until it came.
    const std::string& versionServidor() const { return versionServidor_; }

private:
    static std::size_t longitudPaquete(const std::string& cabecera);

    Etapa etapa_ = Etapa::Prelogin;
    bool crudo_ = false;
    std::string cabeceraCliente_;
    std::size_t restanteCliente_ = 0;
    int paquetesCliente_ = 0;
    std::string cabeceraServidor_;
    std::size_t restanteServidor_ = 0;
    int paquetesServidor_ = 0;
    std::string inicioCarga_;
    int alerta_ = -1;
    std::uint16_t versionTls_ = 0;
    bool sesionDecidida_ = false;
    bool sesionCifrada_ = false;
    std::string primerosServidor_;
    std::string handshakeServidor_;
    std::string prelogin_;
    std::string versionServidor_;
};

} // namespace login_process
