#include "tests/stand_in/byte_buffer.h"
#include "tests/stand_in/tokens.h"
#include "tests/stand_in/ucs2.h"

#include <gtest/gtest.h>

using namespace stand_in;

TEST(TokensTest, LoginAckCarriesTheGivenWireVersionBigEndian) {
    const std::string token = loginAckTokenWithWireVersion(0x01020304, {});
    ASSERT_GE(token.size(), 8u);
    EXPECT_EQ(token.substr(4, 4), std::string("\x01\x02\x03\x04", 4));
    // The agreed version goes out in its LOGINACK form.
    EXPECT_EQ(loginAckToken(tds_version::v7_4, {}), loginAckTokenWithWireVersion(0x74000004, {}));
    EXPECT_EQ(loginAckToken(tds_version::v7_0, {}), loginAckTokenWithWireVersion(0x07000000, {}));
}

TEST(TokensTest, MessageTextKeepsAnEmbeddedNul) {
    const std::string text("before\0after", 12);
    EXPECT_EQ(utf16leToUtf8(utf8ToUtf16le(text)), text);
    const std::string token = messageToken({18456, 1, 14, text, "S"}, TokenWidths{true});
    // Token, length, number, state and class come first; then the count of UTF-16 units.
    EXPECT_EQ(readU16le(token, 9), 12);
    EXPECT_EQ(token.substr(11, 24), utf8ToUtf16le(text));
    EXPECT_EQ(token.substr(11 + 12, 4), std::string("\0\0a\0", 4));
}
