#include "login_process/LectorRespuestaLogin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace login_process {

namespace {

constexpr unsigned char kTabName = 0xA4;
constexpr unsigned char kColInfo = 0xA5;
constexpr unsigned char kOrder = 0xA9;
constexpr unsigned char kError = 0xAA;
constexpr unsigned char kInfo = 0xAB;
constexpr unsigned char kLoginAck = 0xAD;
constexpr unsigned char kFeatureExtAck = 0xAE;
constexpr unsigned char kEnvChange = 0xE3;
constexpr unsigned char kSessionState = 0xE4;
constexpr unsigned char kSspi = 0xED;
constexpr unsigned char kFedAuthInfo = 0xEE;
constexpr unsigned char kDone = 0xFD;
constexpr unsigned char kDoneProc = 0xFE;
constexpr unsigned char kDoneInProc = 0xFF;
constexpr unsigned char kFinCaracteristicas = 0xFF; // FEATUREEXTACK's terminator
constexpr std::uint32_t kDoneError = 0x0002;        // DONE's status: the request ended in error

// Number, state and class open every INFO and ERROR body.
constexpr std::size_t kCabeceraMensaje = 6;
// Interface, version, name length and the 4-byte product version (FreeTDS refuses less).
constexpr std::size_t kLoginAckMinimo = 10;

std::string hex(unsigned valor, int cifras) {
    char texto[16];
    std::snprintf(texto, sizeof texto, "0x%0*X", cifras, valor);
    return texto;
}

void anadeUtf8(std::string& destino, char32_t punto) {
    if (punto < 0x80) {
        destino += static_cast<char>(punto);
    } else if (punto < 0x800) {
        destino += static_cast<char>(0xC0 | (punto >> 6));
        destino += static_cast<char>(0x80 | (punto & 0x3F));
    } else if (punto < 0x10000) {
        destino += static_cast<char>(0xE0 | (punto >> 12));
        destino += static_cast<char>(0x80 | ((punto >> 6) & 0x3F));
        destino += static_cast<char>(0x80 | (punto & 0x3F));
    } else {
        destino += static_cast<char>(0xF0 | (punto >> 18));
        destino += static_cast<char>(0x80 | ((punto >> 12) & 0x3F));
        destino += static_cast<char>(0x80 | ((punto >> 6) & 0x3F));
        destino += static_cast<char>(0x80 | (punto & 0x3F));
    }
}

std::size_t bytesUtf8(char32_t punto) {
    return punto < 0x80 ? 1 : punto < 0x800 ? 2 : punto < 0x10000 ? 3 : 4;
}

// `unidades` UTF-16LE code units at `p` as UTF-8 of at most `maximo` bytes,
// cut before the first character that does not fit; false if cut.
bool utf16AUtf8(const unsigned char* p, std::size_t unidades, std::size_t maximo, std::string& destino) {
    destino.clear();
    destino.reserve(std::min(unidades * 3, maximo));
    const auto unidad = [p](std::size_t i) { return char32_t(p[2 * i] | p[2 * i + 1] << 8); };
    for (std::size_t i = 0; i < unidades; ++i) {
        char32_t punto = unidad(i);
        if (punto >= 0xD800 && punto <= 0xDBFF && i + 1 < unidades && unidad(i + 1) >= 0xDC00 &&
            unidad(i + 1) <= 0xDFFF) {
            punto = 0x10000 + ((punto - 0xD800) << 10) + (unidad(i + 1) - 0xDC00);
            ++i;
        }
        // A lone surrogate keeps its code point, in the three bytes UTF-8's pattern gives it
        // (not valid UTF-8), so that visible() names it rather than a U+FFFD hiding what came.
        if (destino.size() + bytesUtf8(punto) > maximo)
            return false;
        anadeUtf8(destino, punto);
    }
    return true;
}

} // namespace

void LectorRespuestaLogin::recibe(const char* datos, std::size_t n) {
    while (n > 0 && estado_ == Estado::Leyendo) {
        if (restantePaquete_ == 0) {
            const std::size_t tomados = std::min(n, cabeceraPaquete_.size() - enCabeceraPaquete_);
            std::memcpy(cabeceraPaquete_.data() + enCabeceraPaquete_, datos, tomados);
            enCabeceraPaquete_ += tomados;
            datos += tomados;
            n -= tomados;
            if (enCabeceraPaquete_ < cabeceraPaquete_.size())
                return;
            enCabeceraPaquete_ = 0;
            const std::size_t longitud = std::size_t(cabeceraPaquete_[2]) << 8 | cabeceraPaquete_[3];
            // A reply ought to come in packets of type 0x04, but db-lib reads any type as one: so
            // does this, or a reply db-lib believes would go unread.
            if (longitud < cabeceraPaquete_.size())
                return deja("un paquete de " + std::to_string(longitud) + " bytes, menos que su cabecera");
            restantePaquete_ = longitud - cabeceraPaquete_.size();
            continue;
        }
        const std::size_t tomados = std::min(n, restantePaquete_);
        leeTokens(datos, tomados);
        restantePaquete_ -= tomados;
        datos += tomados;
        n -= tomados;
    }
}

void LectorRespuestaLogin::leeTokens(const char* datos, std::size_t n) {
    while (n > 0 && estado_ == Estado::Leyendo) {
        std::size_t tomados = 1;
        switch (fase_) {
        case Fase::Token:
            token_ = static_cast<unsigned char>(*datos);
            paso_ = 0;
            empiezaToken();
            break;
        case Fase::Cabecera:
            tomados = std::min(n, pedidos_ - enCabecera_);
            std::memcpy(cabecera_.data() + enCabecera_, datos, tomados);
            enCabecera_ += tomados;
            if (enCabecera_ == pedidos_)
                trasCabecera();
            break;
        case Fase::Cuerpo:
            tomados = std::min(n, pedidos_ - cuerpo_.size());
            cuerpo_.append(datos, tomados);
            if (cuerpo_.size() == pedidos_)
                trasCuerpo();
            break;
        case Fase::Salto:
            tomados = static_cast<std::size_t>(std::min<std::uint64_t>(n, porSaltar_));
            porSaltar_ -= tomados;
            if (porSaltar_ == 0)
                salta(0);
            break;
        }
        datos += tomados;
        n -= tomados;
    }
}

void LectorRespuestaLogin::empiezaToken() {
    switch (token_) {
    case kError:
    case kInfo:
    case kLoginAck:
    case kEnvChange:
    case kSspi:
    case kTabName:
    case kColInfo:
    case kOrder:
        return pideCabecera(2);
    case kSessionState:
    case kFedAuthInfo:
        return pideCabecera(4);
    case kFeatureExtAck:
        return pideCabecera(1);
    case kDone:
        // db-lib's login reads up to the first DONE, whatever its status says: its status is read here.
        return pideCabecera(2);
    case kDoneProc:
    case kDoneInProc:
        return salta(doneAncho_ ? 12 : 8);
    default:
        break;
    }
    // The length rules of MS-TDS 2.2.4.2.1 for the rest; ROW-like tokens
    // (0xD1 to 0xD3) have bodies only their metadata can measure.
    const unsigned clase = token_ & 0x30;
    if (clase == 0x30)
        return salta(std::uint64_t(1) << ((token_ >> 2) & 0x3));
    if (clase == 0x10 && (token_ < 0xD1 || token_ > 0xD3))
        return;
    deja("un token " + hex(token_, 2) + " que no se sabe medir");
}

void LectorRespuestaLogin::trasCabecera() {
    switch (token_) {
    case kError:
    case kInfo: {
        if (paso_ == 0) {
            longitud_ = cabeceraLe(2);
            if (longitud_ < kCabeceraMensaje)
                return deja("un mensaje de " + std::to_string(longitud_) + " bytes, sin número ni clase");
            paso_ = 1;
            return pideCabecera(kCabeceraMensaje);
        }
        const std::size_t tipo = cabecera_[5] > 10 ? 1 : 0;
        const std::size_t resto = longitud_ - kCabeceraMensaje;
        if (guardados_[tipo] == kMensajesMaximos) {
            ++omitidos_[tipo];
            return salta(resto);
        }
        mensaje_ = {};
        mensaje_.numero = static_cast<std::int32_t>(cabeceraLe(4));
        mensaje_.estado = cabecera_[4];
        mensaje_.clase = cabecera_[5];
        cuerpo_.clear();
        pedidos_ = resto;
        fase_ = Fase::Cuerpo;
        if (resto == 0)
            trasCuerpo();
        return;
    }
    case kLoginAck: {
        if (paso_ == 0) {
            longitud_ = cabeceraLe(2);
            if (longitud_ < kLoginAckMinimo)
                return deja("un LOGINACK de " + std::to_string(longitud_) + " bytes, demasiado corto");
            paso_ = 1;
            return pideCabecera(5);
        }
        const std::uint32_t version = std::uint32_t(cabecera_[1]) << 24 | std::uint32_t(cabecera_[2]) << 16 |
                                      std::uint32_t(cabecera_[3]) << 8 | cabecera_[4];
        versionTds_ = version;
        // Only the versions FreeTDS maps to 7.0 and 7.1 make it read 4-byte row counts.
        doneAncho_ = version != 0x07000000 && version != 0x07010000 && version != 0x71000001;
        return salta(longitud_ - 5);
    }
    case kDone:
        finConError_ = (cabeceraLe(2) & kDoneError) != 0;
        estado_ = Estado::Completa;
        cuerpo_ = std::string();
        return;
    case kSspi:
        sspi_ = true;
        return salta(cabeceraLe(2));
    case kSessionState:
    case kFedAuthInfo:
        return salta(cabeceraLe(4));
    case kFeatureExtAck:
        if (paso_ == 0) {
            if (cabecera_[0] == kFinCaracteristicas) {
                fase_ = Fase::Token;
                return;
            }
            paso_ = 1;
            return pideCabecera(4);
        }
        return salta(cabeceraLe(4)); // then the next feature
    default:
        return salta(cabeceraLe(2));
    }
}

void LectorRespuestaLogin::trasCuerpo() {
    const auto* p = reinterpret_cast<const unsigned char*>(cuerpo_.data());
    const std::size_t tamano = cuerpo_.size();
    std::size_t pos = 0;
    const auto cabe = [&](std::size_t bytes) { return tamano - pos >= bytes; };

    if (!cabe(2))
        return deja("un mensaje sin texto");
    const std::size_t unidadesTexto = std::size_t(p[0]) | std::size_t(p[1]) << 8;
    pos = 2;
    if (!cabe(2 * unidadesTexto))
        return deja("un mensaje cuyo texto no cabe en el token");
    mensaje_.textoCortado = !utf16AUtf8(p + pos, unidadesTexto, kTextoMaximo, mensaje_.texto);
    pos += 2 * unidadesTexto;
    if (!cabe(1) || !cabe(1 + 2 * std::size_t(p[pos])))
        return deja("un mensaje cuyo nombre de servidor no cabe en el token");
    const std::size_t unidadesServidor = p[pos++];
    // At most 255 units: no cut needed.
    utf16AUtf8(p + pos, unidadesServidor, 4 * unidadesServidor, mensaje_.servidor);
    pos += 2 * unidadesServidor;
    if (!cabe(1) || !cabe(1 + 2 * std::size_t(p[pos])))
        return deja("un mensaje cuyo nombre de procedimiento no cabe en el token");

    ++guardados_[mensaje_.clase > 10 ? 1 : 0];
    mensajes_.push_back(std::move(mensaje_));
    cuerpo_.clear();
    fase_ = Fase::Token;
}

void LectorRespuestaLogin::pideCabecera(std::size_t bytes) {
    fase_ = Fase::Cabecera;
    pedidos_ = bytes;
    enCabecera_ = 0;
}

void LectorRespuestaLogin::salta(std::uint64_t bytes) {
    if (bytes > 0) {
        fase_ = Fase::Salto;
        porSaltar_ = bytes;
    } else if (token_ == kFeatureExtAck) {
        paso_ = 0;
        pideCabecera(1);
    } else {
        fase_ = Fase::Token;
    }
}

void LectorRespuestaLogin::deja(std::string motivo) {
    estado_ = Estado::Ilegible;
    motivo_ = std::move(motivo);
    cuerpo_.clear();
    cuerpo_.shrink_to_fit();
}

std::uint32_t LectorRespuestaLogin::cabeceraLe(std::size_t bytes) const {
    std::uint32_t valor = 0;
    for (std::size_t i = bytes; i-- > 0;)
        valor = valor << 8 | cabecera_[i];
    return valor;
}

} // namespace login_process
