#include "data_access/ConnectionString.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

using data_access::ConnectionString;

TEST(ConnectionString, EachValueIsReadAsWritten) {
    struct Caso {
        const char* texto;
        std::vector<std::pair<const char*, std::optional<std::string>>> valores; // nullopt: absent
    };
    const Caso casos[] = {
        // Keys ignore case and blanks, and the last pair wins.
        {"  provider = SQLNCLI ; SERVER=SRV01;server=SRV02;Database=MASTER",
         {{"Provider", "SQLNCLI"}, {"Server", "SRV02"}, {" database ", "MASTER"}, {"User ID", std::nullopt}}},
        // Quoted values keep separators, blanks and doubled quotes.
        {R"(Password="  Ab;1 ""x"" ";User ID='it''s';Database=a=b;Server="";X=)",
         {{"Password", R"(  Ab;1 "x" )"},
          {"User ID", "it's"},
          {"Database", "a=b"},
          {"Server", ""},
          {"X", ""}}},
        // Unquoted values are trimmed, but keep inner quotes and UTF-8.
        {"Password=  a\"b'c ñó€😀  ;", {{"password", "a\"b'c ñó€😀"}}},
        // A doubled equals sign belongs to the key.
        {"a==b=1;", {{"a=b", "1"}}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.texto);
        const auto c = ConnectionString::parse(caso.texto);
        for (const auto& [clave, valor] : caso.valores)
            EXPECT_EQ(c.value(clave), valor) << clave;
    }
}

TEST(ConnectionString, MalformedTextIsRejectedWithASpanishDescription) {
    for (const char* malo : {"Server", "Server=\"abc", "=x", "Server=\"a\"b", "Server=a;Database"}) {
        SCOPED_TRACE(malo);
        contiene(errorDe([&] { ConnectionString::parse(malo); }), "Cadena de conexión mal formada");
    }
}

TEST(ConnectionString, EmptyTextHasNoPairs) {
    EXPECT_TRUE(ConnectionString::parse("").pairs().empty());
    EXPECT_TRUE(ConnectionString::parse(" ; ;").pairs().empty());
}
