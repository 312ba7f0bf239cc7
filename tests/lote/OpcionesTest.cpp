#include "lote/Opciones.h"

#include <gtest/gtest.h>

using lote::Formato;
using lote::leeOpciones;

TEST(Opciones, DefaultsAreTheWindowsTimeoutEightAtOnceATableAndIntegratedSecurity) {
    const auto l = leeOpciones({"servidores.txt"});
    ASSERT_TRUE(l.opciones) << l.error;
    EXPECT_EQ(l.opciones->archivos, std::vector<std::string>{"servidores.txt"});
    EXPECT_EQ(l.opciones->tiempo, 15);
    EXPECT_EQ(l.opciones->paralelo, 8);
    EXPECT_EQ(l.opciones->formato, Formato::Tabla);
    EXPECT_FALSE(l.opciones->usuario);
    EXPECT_EQ(l.opciones->baseDatos, "");
}

TEST(Opciones, ValuesComeSeparateOrAfterAnEqualsSignAndADashIsStandardInput) {
    const auto l = leeOpciones({"--usuario", "sa", "--bbdd=Ventas", "--tiempo=3", "--paralelo", "32",
                                "--formato", "json", "-", "otro.txt", "--", "--raro"});
    ASSERT_TRUE(l.opciones) << l.error;
    EXPECT_EQ(l.opciones->usuario, std::optional<std::string>("sa"));
    EXPECT_EQ(l.opciones->baseDatos, "Ventas");
    EXPECT_EQ(l.opciones->tiempo, 3);
    EXPECT_EQ(l.opciones->paralelo, 32);
    EXPECT_EQ(l.opciones->formato, Formato::Json);
    EXPECT_EQ(l.opciones->archivos, (std::vector<std::string>{"-", "otro.txt", "--raro"}));
    EXPECT_EQ(leeOpciones({"--formato=csv", "a"}).opciones->formato, Formato::Csv);
    EXPECT_EQ(leeOpciones({"--formato=jsonl", "a"}).opciones->formato, Formato::JsonLineas);
    EXPECT_FALSE(l.opciones->arriesgarBloqueo);
    EXPECT_TRUE(leeOpciones({"--arriesgar-bloqueo", "a"}).opciones->arriesgarBloqueo);
}

// The generations of each server's passes, in the order given: the window's two unless asked.
TEST(Opciones, GenerationsComeInTheOrderGivenOnceEachAndTodasIsAll) {
    const auto versiones = [](const std::vector<std::string>& argumentos) {
        const auto l = leeOpciones(argumentos);
        std::string r;
        for (const login_shared::Proveedor* g : l.opciones->generaciones)
            r += std::string(r.empty() ? "" : ",") + g->version;
        return r;
    };
    EXPECT_EQ(versiones({"a"}), "2005,2008");
    EXPECT_EQ(versiones({"--generaciones", "odbc18,2005,odbc18", "a"}), "odbc18,2005");
    EXPECT_EQ(versiones({"--generaciones=todas", "a"}), "2005,2008,odbc17,odbc18");
}

TEST(Opciones, UsageErrorsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> casos{
        {{}, "falta el archivo"},
        {{"--password", "x", "a"}, "opción desconocida: --password"},
        {{"--password=x", "a"}, "opción desconocida: --password"},
        {{"-x", "a"}, "opción desconocida: -x"},
        {{"--tiempo", "0", "a"}, "--tiempo"},
        {{"--tiempo", "15s", "a"}, "«15s»"},
        {{"--tiempo", "99999999999", "a"}, "--tiempo"},
        {{"--paralelo", "-1", "a"}, "--paralelo"},
        {{"--paralelo", "", "a"}, "--paralelo"},
        {{"--paralelo", "100000", "a"}, "--paralelo"},
        {{"--formato", "xml", "a"}, "tabla, csv, csv-excel, json o jsonl"},
        {{"a", "--usuario"}, "le falta su valor"},
        {{"--usuario=", "a"}, "--usuario vacío"},
        {{"--generaciones", "2005,odbc19", "a"},
         "«odbc19» no es ninguna generación; son 2005, 2008, odbc17, odbc18"},
        {{"--generaciones", "", "a"}, "«» no es ninguna generación"},
        {{"--ca=", "a"}, "--ca vacío"},
    };
    for (const auto& [argumentos, error] : casos) {
        const auto l = leeOpciones(argumentos);
        EXPECT_FALSE(l.opciones) << argumentos.size();
        EXPECT_NE(l.error.find(error), std::string::npos) << l.error;
    }
}

// As getopt_long parses a GNU command's options.
TEST(Opciones, OptionsAreParsedAsGetoptLongParsesThem) {
    // What a parse gave, in few words; its error when it failed.
    const auto resumen = [](const std::vector<std::string>& argumentos) {
        const auto l = leeOpciones(argumentos);
        if (!l.opciones)
            return l.error;
        const lote::Opciones& o = *l.opciones;
        std::string archivos;
        for (const std::string& a : o.archivos)
            archivos += (archivos.empty() ? "" : " ") + a;
        return "u=" + o.usuario.value_or("") + " t=" + std::to_string(o.tiempo) +
               " p=" + std::to_string(o.paralelo) + " f=" + std::to_string(int(o.formato)) +
               (o.versionesTls ? " tls" : "") + " [" + archivos + "]";
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> casos{
        // Abbreviations that begin one option alone.
        {{"--para", "16", "--form=json", "--usu=sa", "a"}, "u=sa t=15 p=16 f=3 [a]"},
        {{"--versiones", "a"}, "u= t=15 p=8 f=0 tls [a]"},
        // Short forms, their values apart or joined.
        {{"-u", "sa", "-t", "3", "-p4", "-fcsv-excel", "a"}, "u=sa t=3 p=4 f=2 [a]"},
        // Options after the files too, which keep their order; "-" is a file.
        {{"a", "-p", "2", "-", "--tiempo=9", "b"}, "u= t=9 p=2 f=0 [a - b]"},
        // "--" ends the options.
        {{"a", "--", "-p", "2", "--tiempo=9"}, "u= t=15 p=8 f=0 [a -p 2 --tiempo=9]"},
        {{"--ver", "a"}, "opción ambigua: --ver; puede ser --versiones-tls o --version"},
        {{"--v=1", "a"}, "opción ambigua: --v; puede ser --versiones-tls o --version"},
        {{"--paralelos", "2", "a"}, "opción desconocida: --paralelos"},
        {{"-hq", "a"}, "opción desconocida: -q"},
        {{"--help=si", "a"}, "la opción --help no lleva valor"},
        {{"a", "-u"}, "a la opción -u le falta su valor"},
        {{"a", "--usu"}, "a la opción --usuario le falta su valor"},
    };
    for (const auto& [argumentos, esperado] : casos) {
        SCOPED_TRACE(argumentos.front());
        EXPECT_EQ(resumen(argumentos), esperado);
    }
}

TEST(Opciones, HelpAndVersionNeedNoFile) {
    EXPECT_TRUE(leeOpciones({"--help"}).opciones->ayuda);
    EXPECT_TRUE(leeOpciones({"-h"}).opciones->ayuda);
    EXPECT_TRUE(leeOpciones({"--version"}).opciones->version);
    EXPECT_NE(lote::textoAyuda().find("TARPELINO_PASSWORD"), std::string::npos);
}
