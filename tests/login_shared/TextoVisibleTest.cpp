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

TEST(TextoVisible, ZeroWidthCharactersAndDirectionMarksFromU200BToU200FAreEscaped) {
    EXPECT_EQ(visible("a\u200Bb\u200Cc\u200Dd\u200Ee\u200Ff"), "aU+200BbU+200CcU+200DdU+200EeU+200Ff");
    // Their neighbours, a hair space and a hyphen, are text.
    EXPECT_EQ(visible("a\u200Ab\u2010c"), "a\u200Ab\u2010c");
}

TEST(TextoVisible, EmbeddingsAndOverridesFromU202AToU202EAreEscaped) {
    EXPECT_EQ(visible("a\u202Ab\u202Bc\u202Cd\u202De\u202Ef"), "aU+202AbU+202BcU+202CdU+202DeU+202Ef");
    // The narrow no-break space after them is text.
    EXPECT_EQ(visible("1\u202F000"), "1\u202F000");
}

TEST(TextoVisible, IsolatesFromU2066ToU2069AreEscaped) {
    EXPECT_EQ(visible("a\u2066b\u2067c\u2068d\u2069e"), "aU+2066bU+2067cU+2068dU+2069e");
}

TEST(TextoVisible, TheByteOrderMarkIsEscapedWhereverItIs) {
    EXPECT_EQ(visible("\uFEFFinicio\uFEFFfin\uFEFF"), "U+FEFFinicioU+FEFFfinU+FEFF");
    // The Arabic ligature just below it is text.
    EXPECT_EQ(visible("\uFEFC"), "\uFEFC");
}

TEST(TextoVisible, RightToLeftLettersAccentsAndEmojiStayAsTheyAre) {
    const std::string texto = "Conexión ñ € 😀 \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627";
    EXPECT_EQ(visible(texto), texto);
}

// Each message is one line of the description: a server's text cannot start
// a line that reads as another message, and a lone surrogate is named.
TEST(TextoVisible, AServerMessageStaysOneLineAndNamesALoneSurrogate) {
    const std::pair<std::string, std::string> casos[] = {
        {"a\nMsg 18456, nivel 14, estado 1: b", "aU+000AMsg 18456, nivel 14, estado 1: b"},
        {"a\r\nb", "aU+000DU+000Ab"},
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
