#include "data_access/ConnectionString.h"
#include "tests/support/AperturaPrueba.h"

#include <gtest/gtest.h>

using data_access::ConnectionString;

TEST(ConnectionString, KeysIgnoreCaseAndBlanksAndTheLastPairWins) {
    auto c = ConnectionString::parse("  provider = SQLNCLI ; SERVER=SRV01;server=SRV02;Database=MASTER");
    EXPECT_EQ(c.value("Provider"), "SQLNCLI");
    EXPECT_EQ(c.value("Server"), "SRV02");
    EXPECT_EQ(c.value(" database "), "MASTER");
    EXPECT_FALSE(c.value("User ID").has_value());
}

TEST(ConnectionString, QuotedValuesKeepSeparatorsBlanksAndDoubledQuotes) {
    auto c = ConnectionString::parse(R"(Password="  Ab;1 ""x"" ";User ID='it''s';Database=a=b;Server="";X=)");
    EXPECT_EQ(c.value("Password"), R"(  Ab;1 "x" )");
    EXPECT_EQ(c.value("User ID"), "it's");
    EXPECT_EQ(c.value("Database"), "a=b");
    EXPECT_EQ(c.value("Server"), "");
    EXPECT_EQ(c.value("X"), "");
}

TEST(ConnectionString, UnquotedValuesAreTrimmedButKeepInnerQuotesAndUtf8) {
    auto c = ConnectionString::parse("Password=  a\"b'c ñó€😀  ;");
    EXPECT_EQ(c.value("password"), "a\"b'c ñó€😀");
}

TEST(ConnectionString, DoubledEqualsSignBelongsToTheKey) {
    auto c = ConnectionString::parse("a==b=1;");
    EXPECT_EQ(c.value("a=b"), "1");
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
