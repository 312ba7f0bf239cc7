#include "login_process/SeguidorEtapas.h"

#include "login_process/VersionPrelogin.h"
#include "login_shared/Resumen.h"

#include <algorithm>

namespace login_process {

using login_shared::Etapa;

std::size_t SeguidorEtapas::longitudPaquete(const std::string& cabecera) {
    const std::size_t total =
        std::size_t(static_cast<unsigned char>(cabecera[2])) << 8 | static_cast<unsigned char>(cabecera[3]);
    return total > 8 ? total - 8 : 0;
}

void SeguidorEtapas::delCliente(const char* datos, std::size_t n) {
    while (n > 0 && !crudo_) {
        if (restanteCliente_ > 0) {
            const std::size_t tomados = std::min(n, restanteCliente_);
            restanteCliente_ -= tomados;
            datos += tomados;
            n -= tomados;
            continue;
        }
        const auto primero = static_cast<unsigned char>(datos[0]);
        if (cabeceraCliente_.empty() && paquetesCliente_ > 0 && primero >= 0x14 && primero <= 0x17) {
            crudo_ = true; // TLS records straight on the socket: the handshake is over
            etapa_ = Etapa::RespuestaLogin;
            return;
        }
        const std::size_t tomados = std::min(n, 8 - cabeceraCliente_.size());
        cabeceraCliente_.append(datos, tomados);
        datos += tomados;
        n -= tomados;
        if (cabeceraCliente_.size() < 8)
            return;
        const auto tipo = static_cast<unsigned char>(cabeceraCliente_[0]);
        restanteCliente_ = longitudPaquete(cabeceraCliente_);
        cabeceraCliente_.clear();
        if (paquetesCliente_++ == 0)
            etapa_ = Etapa::Prelogin;
        else if (tipo == 0x12)
            etapa_ = Etapa::Tls;
        else
            etapa_ = Etapa::RespuestaLogin;
    }
}

bool SeguidorEtapas::abreLoginCifrado(const char* datos, std::size_t n) const {
    if (crudo_ || n == 0 || restanteCliente_ > 0 || !cabeceraCliente_.empty() || paquetesCliente_ == 0)
        return false;
    const auto primero = static_cast<unsigned char>(datos[0]);
    return primero >= 0x14 && primero <= 0x17;
}

// The server's packets until the handshake is over: the PRELOGIN reply
// (once whole, the client prepares what comes next; Kerberos asks its KDC
// here), then the handshake flights, where an alert says why TLS failed.
// True when the bytes are the server's reply to LOGIN7 travelling in clear.
bool SeguidorEtapas::delServidor(const char* datos, std::size_t n) {
    if (primerosServidor_.size() < kPrimerosGuardados)
        primerosServidor_.append(datos, std::min(n, kPrimerosGuardados - primerosServidor_.size()));
    // The first reply to LOGIN7 tells whether TLS goes on (a record) or was
    // for the login packet only (a clear TDS packet).
    if (crudo_ && n > 0 && !sesionDecidida_) {
        sesionDecidida_ = true;
        sesionCifrada_ = static_cast<unsigned char>(datos[0]) == 0x17;
    }
    const bool respuestaEnClaro = crudo_ ? !sesionCifrada_ : etapa_ == Etapa::RespuestaLogin;
    while (n > 0 && !crudo_) {
        if (cabeceraServidor_.size() < 8) {
            const std::size_t tomados = std::min(n, 8 - cabeceraServidor_.size());
            cabeceraServidor_.append(datos, tomados);
            datos += tomados;
            n -= tomados;
            if (cabeceraServidor_.size() < 8)
                return respuestaEnClaro;
            restanteServidor_ = longitudPaquete(cabeceraServidor_);
            inicioCarga_.clear();
        }
        const std::size_t tomados = std::min(n, restanteServidor_);
        const bool esPrelogin =
            paquetesServidor_ == 0 && etapa_ == Etapa::Prelogin && cabeceraServidor_[0] == '\x04';
        if (esPrelogin && prelogin_.size() < kPreloginGuardado)
            prelogin_.append(datos, std::min(tomados, kPreloginGuardado - prelogin_.size()));
        if (etapa_ == Etapa::Tls && handshakeServidor_.size() < kHandshakeGuardado)
            handshakeServidor_.append(datos,
                                      std::min(tomados, kHandshakeGuardado - handshakeServidor_.size()));
        if (etapa_ == Etapa::Tls && inicioCarga_.size() < 11)
            inicioCarga_.append(datos, std::min(tomados, 11 - inicioCarga_.size()));
        restanteServidor_ -= tomados;
        datos += tomados;
        n -= tomados;
        // A TLS record of type alert (0x15) whose last byte is the description (RFC 5246, 7.2).
        if (alerta_ < 0 && inicioCarga_.size() >= 7 && inicioCarga_[0] == '\x15')
            alerta_ = static_cast<unsigned char>(inicioCarga_[6]);
        // A handshake record (0x16) opening with ServerHello (2): the version it chose follows
        // the 4-byte handshake header (RFC 5246, 7.4.1.3).
        if (versionTls_ == 0 && inicioCarga_.size() == 11 && inicioCarga_[0] == '\x16' &&
            inicioCarga_[5] == '\x02')
            versionTls_ = std::uint16_t(static_cast<unsigned char>(inicioCarga_[9]) << 8 |
                                        static_cast<unsigned char>(inicioCarga_[10]));
        if (restanteServidor_ == 0) {
            if (paquetesServidor_++ == 0 && etapa_ == Etapa::Prelogin) {
                etapa_ = Etapa::PreparacionLogin;
                versionServidor_ = versionDelPrelogin(prelogin_);
                prelogin_ = std::string();
            }
            cabeceraServidor_.clear();
        }
    }
    return respuestaEnClaro;
}

} // namespace login_process
