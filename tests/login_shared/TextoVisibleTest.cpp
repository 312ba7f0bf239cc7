// What a server sends is shown as it is, except what would not be seen or
// would turn the text around it: those characters are written as their code
// point, like control characters.
#include "login_process/Textos.h"
#include "login_shared/TextoUtf8.h"
#include "login_shared/Textos.h"

#include <gtest/gtest.h>

using login_shared::visible;
namespace textos = login_shared::textos;

TEST(TextoVisible, ARightToLeftOverrideCannotDisguiseAFileNameInAServerMessage) {
    // Shown raw, the name would read "exe.png".
    EXPECT_EQ(login_process::textos::mensajeServidor(50000, 16, 1, "Adjunto: \u202Egnp.exe\u202C"),
              "Msg 50000, nivel 16, estado 1: Adjunto: U+202Egnp.exeU+202C");
}

// Characters that would not be seen or would turn the text around them are
// escaped wherever they are; their neighbours, and letters of any script, stay.
TEST(TextoVisible, InvisibleAndReorderingCharactersAreEscapedAndTheirNeighboursStay) {
    const std::pair<const char*, const char*> casos[] = {
        // Zero-width characters and direction marks, U+200B to U+200F; a hair space and a hyphen are text.
        {"a\u200Bb\u200Cc\u200Dd\u200Ee\u200Ff", "aU+200BbU+200CcU+200DdU+200EeU+200Ff"},
        {"a\u200Ab\u2010c", "a\u200Ab\u2010c"},
        // Embeddings and overrides, U+202A to U+202E; the narrow no-break space after them is text.
        {"a\u202Ab\u202Bc\u202Cd\u202De\u202Ef", "aU+202AbU+202BcU+202CdU+202DeU+202Ef"},
        {"1\u202F000", "1\u202F000"},
        // Isolates, U+2066 to U+2069.
        {"a\u2066b\u2067c\u2068d\u2069e", "aU+2066bU+2067cU+2068dU+2069e"},
        // The byte order mark, wherever it is; the Arabic ligature just below it is text.
        {"\uFEFFinicio\uFEFFfin\uFEFF", "U+FEFFinicioU+FEFFfinU+FEFF"},
        {"\uFEFC", "\uFEFC"},
        // The Arabic letter mark (a bidi control), the word joiner, the soft hyphen, tag characters
        // (first and last), an interlinear annotation anchor (format, yet not default-ignorable), a line
        // separator, private use, an unassigned code point, and the Hangul filler, a letter that shows
        // as nothing (default-ignorable).
        {"a\u061Cb\u2060c\u00ADd\U000E0001e\U000E007Ff\uFFF9g",
         "aU+061CbU+2060cU+00ADdU+E0001eU+E007FfU+FFF9g"},
        {"a\u2028b\uE000c\u0378d\u3164e", "aU+2028bU+E000cU+0378dU+3164e"},
        // Right-to-left letters, accents, CJK and emoji; a space and a no-break space are text.
        {"Conexión ñ € 中文 😀 \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627\u00A0.",
         "Conexión ñ € 中文 😀 \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627\u00A0."},
    };
    for (const auto& [texto, mostrado] : casos)
        EXPECT_EQ(visible(texto), mostrado);
}

// Each message is one line of the description: a server's text cannot start
// a line that reads as another message, a NUL does not cut it, and a lone
// surrogate is named.
TEST(TextoVisible, AServerMessageStaysOneLineAndNamesALoneSurrogate) {
    const std::pair<std::string, std::string> casos[] = {
        {"a\nMsg 18456, nivel 14, estado 1: b", "aU+000AMsg 18456, nivel 14, estado 1: b"},
        {"a\r\nb", "aU+000DU+000Ab"},
        {std::string("antes\0después", 14), "antesU+0000después"}, // not cut at the NUL
        {"a\u2028b\u2029c\u0085d", "aU+2028bU+2029cU+0085d"},
        {"uno\u200B\ndos\x01\u2067", "unoU+200BU+000AdosU+0001U+2067"},
        // As the login reply reader keeps it: U+D800's three UTF-8-shaped bytes.
        {"a\xED\xA0\x80"
         "b\xED\xBF\xBF",
         "aU+D800bU+DFFF"},
        {"\xED\xA0", "\\xED\\xA0"},
    };
    for (const auto& [texto, mostrado] : casos)
        EXPECT_EQ(login_process::textos::mensajeServidor(18456, 14, 1, texto),
                  "Msg 18456, nivel 14, estado 1: " + mostrado);
}

TEST(TextoVisible, AServerNameThatReordersItselfIsEscapedInItsDescription) {
    EXPECT_EQ(textos::nombreServidorNoValido("srv\u202E10"),
              "El nombre de servidor «srvU+202E10» no es válido.");
}
