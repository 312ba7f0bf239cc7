#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_process {

// One INFO or ERROR token of the login reply, as the server sent it.
struct MensajeRespuesta {
    std::int32_t numero = 0;
    std::uint8_t estado = 0;
    std::uint8_t clase = 0;
    // UTF-8, whole: a U+0000 stays a NUL byte (db-lib's handler cuts the text
    // there), a lone surrogate its three UTF-8-shaped bytes (ED A0 80 for U+D800).
    std::string texto;
    bool textoCortado = false; // cut at LectorRespuestaLogin::kTextoMaximo bytes
    std::string servidor;
};

// Reads the token stream of a login reply (MS-TDS 2.2.7) from the server's
// bytes in clear (on the wire, or as TLS gave them to db-lib), in chunks of
// any size: TDS packets (8-byte header, of whatever type, as db-lib takes
// them), starting with the first packet of the reply to LOGIN7.
// The reply ends at the first DONE token, as db-lib's login reads it; an SSPI
// round trip in between (NTLM) is read as one stream. Memory stays bounded
// whatever the server sends, and it never reads past what it was given.
class LectorRespuestaLogin {
public:
    // Of each kind (errors, class above 10, and the others): the first ones
    // tell why a login failed, and a server may send messages without end.
    static constexpr std::size_t kMensajesMaximos = 10;
    static constexpr std::size_t kTextoMaximo = 4000; // bytes of UTF-8

    enum class Estado {
        Leyendo,  // the reply has not reached its DONE yet
        Completa, // its DONE arrived: what follows is ignored
        Ilegible, // something it cannot read: it stopped there, see motivo()
    };

    void recibe(const char* datos, std::size_t n);

    Estado estado() const { return estado_; }
    // Why it stopped reading, in Spanish; empty unless Ilegible.
    const std::string& motivo() const { return motivo_; }
    // The last LOGINACK's TDS version exactly as sent (0x74000004 for 7.4).
    std::optional<std::uint32_t> versionTds() const { return versionTds_; }
    // The DONE that ended the reply had its error flag (DONE_ERROR).
    bool finConError() const { return finConError_; }
    // An SSPI token came (NTLM's CHALLENGE): the client's next message answers it.
    bool sspi() const { return sspi_; }
    // The messages kept, in the order they came.
    const std::vector<MensajeRespuesta>& mensajes() const { return mensajes_; }
    std::uint64_t erroresOmitidos() const { return omitidos_[1]; }
    std::uint64_t informativosOmitidos() const { return omitidos_[0]; }

private:
    enum class Fase { Token, Cabecera, Cuerpo, Salto };

    void leeTokens(const char* datos, std::size_t n);
    void empiezaToken();
    void trasCabecera();
    void trasCuerpo();
    void pideCabecera(std::size_t bytes);
    void salta(std::uint64_t bytes);
    void deja(std::string motivo);
    std::uint32_t cabeceraLe(std::size_t bytes) const;

    Estado estado_ = Estado::Leyendo;
    std::string motivo_;
    std::optional<std::uint32_t> versionTds_;
    bool finConError_ = false;
    bool sspi_ = false;
    std::vector<MensajeRespuesta> mensajes_;
    std::array<std::size_t, 2> guardados_{}; // by kind: [1] errors
    std::array<std::uint64_t, 2> omitidos_{};

    // Packet level.
    std::array<unsigned char, 8> cabeceraPaquete_{};
    std::size_t enCabeceraPaquete_ = 0;
    std::size_t restantePaquete_ = 0;

    // Token level: the token, the step within it, and what that step still needs.
    Fase fase_ = Fase::Token;
    unsigned char token_ = 0;
    int paso_ = 0;
    std::array<unsigned char, 8> cabecera_{};
    std::size_t enCabecera_ = 0;
    std::size_t pedidos_ = 0;
    std::uint64_t porSaltar_ = 0;
    std::size_t longitud_ = 0; // of the token's body, after its length field
    std::string cuerpo_;       // one kept message, at most 65,535 bytes
    MensajeRespuesta mensaje_;
    bool doneAncho_ = true; // 8-byte row counts: both generations ask for TDS 7.2 or later
};

} // namespace login_process
