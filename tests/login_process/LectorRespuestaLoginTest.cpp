#include "login_process/LectorRespuestaLogin.h"
#include "login_shared/Textos.h"

#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/tokens.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <malloc.h>

using namespace login_shared;
using namespace login_process;
using Estado = LectorRespuestaLogin::Estado;

namespace {

constexpr stand_in::TokenWidths kAncho{true};
constexpr std::size_t kMaximos = LectorRespuestaLogin::kMensajesMaximos;

// The token stream in reply packets of at most `carga` bytes of payload.
std::string enPaquetes(const std::string& tokens, std::size_t carga = 4088) {
    std::string bytes;
    for (std::size_t pos = 0; pos < tokens.size(); pos += carga) {
        const std::size_t n = std::min(carga, tokens.size() - pos);
        stand_in::ByteWriter w;
        w.u8(0x04);
        w.u8(pos + n == tokens.size());
        w.u16be(static_cast<std::uint16_t>(n + 8));
        w.u32be(0x0100);
        bytes += w.bytes() + tokens.substr(pos, n);
    }
    return bytes;
}

std::string tokenMensaje(std::int32_t numero, std::uint8_t clase, const std::string& texto) {
    return stand_in::messageToken({numero, 1, clase, texto, "SRV01"}, kAncho);
}

std::string ack(std::uint32_t version) {
    return stand_in::loginAckTokenWithWireVersion(version, {});
}

const std::string kDone = stand_in::doneToken(stand_in::done_status::final, kAncho);

// An ERROR token by hand: `utf16` as the text, `unidades` in its length field.
std::string mensajeCrudo(const std::string& utf16, std::size_t unidades, std::uint8_t clase = 16,
                         std::uint16_t longitud = 0) {
    stand_in::ByteWriter c;
    c.u32le(50000);
    c.u8(1);
    c.u8(clase);
    c.u16le(static_cast<std::uint16_t>(unidades));
    c.raw(utf16);
    c.raw(std::string("\0\0\1\0\0\0", 6)); // no server or procedure name, line 1
    const std::size_t n = longitud ? longitud : c.size();
    return std::string{'\xAA', char(n & 0xFF), char(n >> 8)} + c.bytes();
}

// State, version and messages on one line, to compare whole readings.
std::string resumen(const LectorRespuestaLogin& l) {
    char version[16] = "-";
    if (l.versionTds())
        std::snprintf(version, sizeof version, "%08X", *l.versionTds());
    std::string r = std::to_string(int(l.estado())) + " " + version + l.motivo();
    for (const auto& m : l.mensajes())
        r +=
            "|" + std::to_string(m.numero) + "," + std::to_string(m.clase) + "," + m.servidor + ":" + m.texto;
    return r;
}

std::string lee(const std::string& bytes) {
    LectorRespuestaLogin l;
    l.recibe(bytes.data(), bytes.size());
    return resumen(l);
}

} // namespace

TEST(LectorRespuestaLogin, ReadsTheSameWhereverTheBytesAreSplit) {
    const std::string bytes =
        enPaquetes(stand_in::sspiToken("AP-REP") + stand_in::envChangeDefaultCollation() +
                       tokenMensaje(5701, 0, "Changed database context to 'master'.") +
                       tokenMensaje(18456, 14, "Login failed for user 'sa'.") + ack(0x730B0003) +
                       stand_in::featureExtAckToken() + kDone + tokenMensaje(1, 16, "after the DONE"),
                   64) +
        "garbage";
    const std::string entero = lee(bytes);
    EXPECT_EQ(entero, "1 730B0003|5701,0,SRV01:Changed database context to 'master'.|18456,14,SRV01:Login "
                      "failed for user 'sa'.");
    for (std::size_t corte = 0; corte <= bytes.size(); ++corte) {
        LectorRespuestaLogin l;
        l.recibe(bytes.data(), corte);
        l.recibe(bytes.data() + corte, bytes.size() - corte);
        ASSERT_EQ(resumen(l), entero) << "cut at " << corte;
    }
    LectorRespuestaLogin deUnoEnUno;
    for (char c : bytes)
        deUnoEnUno.recibe(&c, 1);
    EXPECT_EQ(resumen(deUnoEnUno), entero);
}

TEST(LectorRespuestaLogin, ReadsAcrossManyPacketsEmptyOnesAndAnSspiRoundTrip) {
    std::string texto;
    for (int i = 0; i < 300; ++i)
        texto += "línea " + std::to_string(i) + "; ";
    const std::string vacio("\x04\x00\x00\x08\x00\x00\x01\x00", 8);
    // NTLM: the challenge ends a message of its own, the rest follows the client's answer.
    EXPECT_EQ(lee(enPaquetes(stand_in::sspiToken("NTLMSSP challenge")) + vacio +
                  enPaquetes(tokenMensaje(18456, 14, texto) + ack(0x74000004) + kDone, 7)),
              "1 74000004|18456,14,SRV01:" + texto);
}

TEST(LectorRespuestaLogin, KeepsTextAfterANulAndLoneSurrogatesAndCutsWhereACharacterStarts) {
    const std::string nul("Login failed\0 for user 'sa'.", 28);
    // A lone high surrogate, "a", U+1F600 as a pair, a lone low surrogate.
    const std::string utf16("\x00\xD8"
                            "a\x00\x3D\xD8\x00\xDE\x00\xDC",
                            10);
    const std::string largo = std::string(LectorRespuestaLogin::kTextoMaximo - 1, 'x') + "ñ and more";
    LectorRespuestaLogin l;
    const std::string bytes =
        enPaquetes(tokenMensaje(1, 14, nul) + mensajeCrudo(utf16, 5) + tokenMensaje(3, 14, largo));
    l.recibe(bytes.data(), bytes.size());
    ASSERT_EQ(l.mensajes().size(), 3u);
    EXPECT_EQ(l.mensajes()[0].texto, nul);
    EXPECT_EQ(l.mensajes()[1].texto, "\xED\xA0\x80"
                                     "a\xF0\x9F\x98\x80\xED\xB0\x80");
    EXPECT_FALSE(l.mensajes()[1].textoCortado);
    EXPECT_EQ(l.mensajes()[2].texto, largo.substr(0, LectorRespuestaLogin::kTextoMaximo - 1));
    EXPECT_TRUE(l.mensajes()[2].textoCortado);
}

TEST(LectorRespuestaLogin, KeepsTheFirstMessagesOfEachKindInLittleMemory) {
    // 100,000 messages as long as a token can be, errors and informational ones in turn.
    const std::size_t unidades = (65535 - 8 - 3 - 6 - 2 - 6) / 2;
    const std::string x(2 * unidades, 'x');
    const std::string paquetes[] = {enPaquetes(mensajeCrudo(x, unidades, 16), 65527),
                                    enPaquetes(mensajeCrudo(x, unidades, 0), 65527)};
    ASSERT_EQ(paquetes[0].size(), 65535u);
    const auto enUso = [] {
        const auto m = ::mallinfo2();
        return m.uordblks + m.hblkhd;
    };
    LectorRespuestaLogin l;
    const std::size_t antes = enUso();
    for (int i = 0; i < 100000; ++i)
        l.recibe(paquetes[i % 2].data(), paquetes[i % 2].size());
    // Then a token claiming 4 GiB (SESSIONSTATE), and 64 MiB of it.
    const std::string sinFin = enPaquetes(std::string("\xE4\xFF\xFF\xFF\xFF", 5));
    l.recibe(sinFin.data(), sinFin.size());
    for (int i = 0; i < 1024; ++i)
        l.recibe(paquetes[0].data(), paquetes[0].size());
    const std::size_t despues = enUso();

    EXPECT_EQ(l.estado(), Estado::Leyendo);
    EXPECT_EQ(l.mensajes().size(), 2 * kMaximos);
    EXPECT_EQ(l.erroresOmitidos(), 50000 - kMaximos);
    EXPECT_EQ(l.informativosOmitidos(), 50000 - kMaximos);
    // glibc's heap; under AddressSanitizer, whose heap this does not count, it checks nothing.
    EXPECT_LT(despues - std::min(antes, despues), std::size_t(512 * 1024));
}

TEST(LectorRespuestaLogin, ReadsTheVersionOfEveryLoginAckAndItsRowCountWidth) {
    const std::pair<std::uint32_t, const char*> casos[] = {
        {0x07000000, "7.0"},
        {0x07010000, "7.1"},
        {0x71000001, "7.1"},
        {0x72090002, "7.2"},
        {0x730A0003, "7.3"},
        {0x730B0003, "7.3"},
        {0x74000004, "7.4"},
        {0x74000000, "desconocida (0x74000000)"},
        {0x01020304, "desconocida (0x01020304)"},
    };
    for (const auto& [version, texto] : casos) {
        // A DONEINPROC in between: 4-byte row count after 7.0 and 7.1, 8 bytes after the rest.
        const bool ancho = version != 0x07000000 && version != 0x07010000 && version != 0x71000001;
        const std::string doneInProc = std::string("\xFF\x01\0\0\0", 5) + std::string(ancho ? 8 : 4, '\0');
        LectorRespuestaLogin l;
        const std::string bytes =
            enPaquetes(ack(version) + doneInProc + tokenMensaje(5703, 0, "Hola") + kDone);
        l.recibe(bytes.data(), bytes.size());
        EXPECT_EQ(l.versionTds(), version);
        EXPECT_EQ(l.mensajes().size(), 1u) << texto;
        EXPECT_EQ(textos::versionTds(version), texto);
    }
    EXPECT_EQ(lee(enPaquetes(tokenMensaje(18456, 14, "Login failed.") + kDone)),
              "1 -|18456,14,SRV01:Login failed.");
}

TEST(LectorRespuestaLogin, SkipsTokensByTheirLengthRules) {
    static const char kTokens[] = "\x79\x01\0\0\0"                // RETURNSTATUS, fixed 4 bytes
                                  "\xA9\x02\0\x01\0"              // ORDER
                                  "\xE4\x03\0\0\0xyz"             // SESSIONSTATE, 4-byte length
                                  "\xAE\x01\x02\0\0\0xy"          // FEATUREEXTACK: feature 1, 2 bytes,
                                  "\x05\0\0\0\0\xFF"              // feature 5, none, the end
                                  "\xFE\0\0\0\0\0\0\0\0\0\0\0\0"; // DONEPROC
    const std::string tokens(kTokens, sizeof kTokens - 1);
    EXPECT_EQ(lee(enPaquetes(tokens + tokenMensaje(5703, 0, "Hola") + kDone)), "1 -|5703,0,SRV01:Hola");
}

TEST(LectorRespuestaLogin, StopsAtWhatItCannotReadAndNeverReadsPastTheInput) {
    // Read as db-lib reads it, whatever its packets' type: "HTTP/1.1" is a header, " " no token.
    EXPECT_EQ(lee("HTTP/1.1 400 Bad Request\r\n\r\n"), "2 -un token 0x20 que no se sabe medir");
    EXPECT_EQ(lee(std::string("\x04\x01\x00\x05\0\0\x01\0", 8))[0], '2'); // shorter than its header
    // A ROW token has no length of its own; what came before stays, nothing after is read.
    EXPECT_EQ(
        lee(enPaquetes(tokenMensaje(18456, 14, "Login failed.") + "\xD1\x01\x02" + ack(0x74000004) + kDone)),
        "2 -un token 0xD1 que no se sabe medir|18456,14,SRV01:Login failed.");
    EXPECT_EQ(lee(enPaquetes(std::string("\xAD\x04\0\x01\x74\0\0", 7)))[0], '2'); // LOGINACK too short
    EXPECT_EQ(lee(enPaquetes(std::string("\xAA\x03\0\x01\0\0", 6)))[0], '2');     // no room for a class
    EXPECT_EQ(lee(enPaquetes(mensajeCrudo(std::string(20, 'x'), 2000))).substr(0, 4),
              "2 -u"); // text overruns
    // Claims 65,535 bytes, the reply ends after 30: it waits, inventing nothing.
    EXPECT_EQ(lee(enPaquetes(mensajeCrudo(std::string(16, 'x'), 8, 16, 65535))), "0 -");
}
