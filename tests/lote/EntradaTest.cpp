#include "lote/Entrada.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

lote::LecturaEntrada lee(const std::string& texto) {
    std::istringstream entrada(texto);
    lote::LecturaEntrada l;
    lote::leeServidores(entrada, "lista.txt", l);
    return l;
}

// `texto` in UTF-16 with its byte order mark, as PowerShell 5.1 writes it; `unidades` is put as it is.
std::string utf16(const std::u16string& unidades, bool bigEndian) {
    std::string r = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : unidades) {
        const char alto = char(u >> 8), bajo = char(u & 0xFF);
        r += bigEndian ? std::string{alto, bajo} : std::string{bajo, alto};
    }
    return r;
}

std::vector<std::string> nombres(const lote::LecturaEntrada& l) {
    std::vector<std::string> r;
    for (const auto& s : l.servidores)
        r.push_back(s.servidor);
    return r;
}

} // namespace

TEST(Entrada, CommentsBlankLinesAndSurroundingBlanksAreSkippedEveryFormTheWindowTakesIsKept) {
    const auto l = lee("# producción\n"
                       "\n"
                       "   \t \n"
                       "SRV01\n"
                       "  SRV02,1533   # el de ventas\r\n"
                       "SRV03\\SQLEXPRESS\n"
                       "tcp:10.0.0.5,1433\n"
                       "[::1],1433\n"
                       "(local)\n"
                       "ultima");
    EXPECT_TRUE(l.errores.empty()) << l.errores.front();
    EXPECT_EQ(nombres(l), (std::vector<std::string>{"SRV01", "SRV02,1533", "SRV03\\SQLEXPRESS",
                                                    "tcp:10.0.0.5,1433", "[::1],1433", "(local)", "ultima"}));
    EXPECT_EQ(l.servidores[0].linea, 4);
    EXPECT_EQ(l.servidores[1].linea, 5);
    EXPECT_EQ(l.servidores[6].linea, 10);
    EXPECT_EQ(l.servidores[0].origen, "lista.txt");
    // As Notepad and PowerShell 5 save it: a byte order mark first, CRLF line ends.
    EXPECT_EQ(nombres(lee("\xEF\xBB\xBFSRV01\r\nSRV02\r\n")), (std::vector<std::string>{"SRV01", "SRV02"}));
}

// A list saved on Windows: Windows PowerShell 5.1 (">", Out-File) writes UTF-16, Notepad and
// PowerShell 7 UTF-8, each with a byte order mark; every one is the same list.
// A list saved on Windows: Windows PowerShell 5.1 (">", Out-File) writes UTF-16, Notepad and
// PowerShell 7 UTF-8, each with a byte order mark; every one is the same list. No server name may
// hold an "ñ": the error that quotes one shows what was read.
TEST(Entrada, AListSavedOnWindowsInUtf16OrUtf8WithItsByteOrderMarkIsTheSameList) {
    const std::u16string lista = u"# producción\r\nSRV01\r\n  SRV02\\SQLEXPRESS # año\r\npeña\U0001F5A5\r\n";
    const std::string enUtf8 = "# producción\r\nSRV01\r\n  SRV02\\SQLEXPRESS # año\r\npeña\U0001F5A5\r\n";
    const std::string conEne = "lista.txt, línea 4: El nombre de servidor «peña\U0001F5A5» no es válido.";
    struct Caso {
        const char* nombre;
        std::string bytes;
        std::string error;
    };
    const std::vector<Caso> casos{
        {"UTF-16 LE", utf16(lista, false), conEne},
        {"UTF-16 BE", utf16(lista, true), conEne},
        {"UTF-8", "\xEF\xBB\xBF" + enUtf8, conEne},
        // A surrogate without its pair is no character: its line is named, the others are read.
        {"UTF-16 con un sustituto suelto",
         utf16(u"# producción\r\nSRV01\r\nSRV02\\SQLEXPRESS\r\nSRV\xD83D"
               u"03\r\n",
               false),
         "lista.txt, línea 4: no es UTF-16 válido: un sustituto alto (0xD83D) sin el bajo detrás; no es un "
         "nombre de servidor"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const auto l = lee(caso.bytes);
        EXPECT_EQ(nombres(l), (std::vector<std::string>{"SRV01", "SRV02\\SQLEXPRESS"}));
        ASSERT_EQ(l.servidores.size(), 2u);
        EXPECT_EQ(l.servidores[1].linea, 3);
        EXPECT_EQ(l.errores, std::vector<std::string>{caso.error});
    }
}

TEST(Entrada, ALineThatIsNoServerNameIsNamedByItsLineAndTheRestIsStillRead) {
    const auto l = lee("SRV01\n"
                       "SRV02,99999\n"
                       "np:SRV03\n"
                       "SRV\x01raro\n"
                       "SRV\xff\n"
                       "SRV04\n");
    EXPECT_EQ(nombres(l), (std::vector<std::string>{"SRV01", "SRV04"}));
    ASSERT_EQ(l.errores.size(), 4u);
    EXPECT_EQ(l.errores[0].rfind("lista.txt, línea 2: El puerto «99999»", 0), 0u) << l.errores[0];
    EXPECT_EQ(l.errores[1].rfind("lista.txt, línea 3: ", 0), 0u) << l.errores[1];
    EXPECT_NE(l.errores[1].find("solo está disponible TCP"), std::string::npos) << l.errores[1];
    // A control character is named, never written as it is.
    EXPECT_EQ(l.errores[2].rfind("lista.txt, línea 4: ", 0), 0u) << l.errores[2];
    EXPECT_EQ(l.errores[2].find('\x01'), std::string::npos);
    EXPECT_EQ(l.errores[3].rfind("lista.txt, línea 5: ", 0), 0u) << l.errores[3];
}

TEST(Entrada, AFileThatCannotBeReadIsNamedAndTheNextIsStillRead) {
    const std::filesystem::path carpeta =
        std::filesystem::temp_directory_path() / ("lote-entrada-" + std::to_string(::getpid()));
    std::filesystem::create_directories(carpeta);
    const std::string buena = (carpeta / "buena.txt").string();
    std::ofstream(buena) << "SRV01\n";
    std::istringstream estandar("SRV02\n");

    const auto l =
        lote::leeArchivos({(carpeta / "no-existe.txt").string(), carpeta.string(), buena, "-"}, estandar);

    EXPECT_EQ(nombres(l), (std::vector<std::string>{"SRV01", "SRV02"}));
    EXPECT_EQ(l.servidores[1].origen, "entrada estándar");
    ASSERT_EQ(l.errores.size(), 2u);
    EXPECT_NE(l.errores[0].find("no-existe.txt: no se puede leer: no existe"), std::string::npos)
        << l.errores[0];
    EXPECT_NE(l.errores[1].find("es una carpeta"), std::string::npos) << l.errores[1];
    std::filesystem::remove_all(carpeta);
}

// The bounds at their edges: a line may hold 4,096 bytes, and a file is no
// list from its 1,000th line that is no server on, whatever came before.
TEST(Entrada, ALineAndAFileAreRefusedExactlyPastTheirBounds) {
    const auto lineas = [](int n, const std::string& linea) {
        std::string texto;
        for (int i = 0; i < n; ++i)
            texto += linea;
        return texto;
    };
    // "SRV01" and blanks after it, `bytes` in all.
    const auto larga = [](std::size_t bytes) { return "SRV01" + std::string(bytes - 5, ' ') + "\n"; };
    struct Caso {
        const char* nombre;
        std::string texto;
        std::vector<std::string> servidores;
        std::size_t errores;     // every one, kept or counted
        const char* ultimoError; // how the last one starts; "": none
    };
    const std::vector<Caso> casos{
        {"4.096 bytes", larga(4096) + "SRV02\n", {"SRV01", "SRV02"}, 0, ""},
        {"4.097 bytes",
         larga(4097) + "SRV02\n",
         {"SRV02"},
         1,
         "lista.txt, línea 1: la línea pasa de 4096 bytes"},
        {"999 líneas que no son servidores",
         "SRV01\n" + lineas(999, "SRV,0\n") + "SRV02\n",
         {"SRV01", "SRV02"},
         999,
         "lista.txt, línea 11: El puerto"},
        {"1.000 líneas que no son servidores",
         "SRV01\n" + lineas(1000, "SRV,0\n") + "SRV02\n",
         {},
         1001,
         "lista.txt, línea 1001: 1.000 líneas que no son servidores"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const auto l = lee(caso.texto);
        EXPECT_EQ(nombres(l), caso.servidores);
        EXPECT_EQ(l.errores.size() + l.erroresOmitidos, caso.errores);
        if (caso.errores == 0)
            continue;
        ASSERT_FALSE(l.errores.empty());
        EXPECT_EQ(l.errores.back().rfind(caso.ultimoError, 0), 0u) << l.errores.back();
    }
}
