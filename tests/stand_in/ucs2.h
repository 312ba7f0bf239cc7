#pragma once

#include <string>

namespace stand_in {

// TDS carries every string as UCS-2LE (really UTF-16LE: clients send surrogate pairs for characters
// outside the BMP). The stand-in keeps strings as UTF-8 internally.
std::string utf16leToUtf8(const std::string& bytes);
std::string utf8ToUtf16le(const std::string& text);

// Number of UTF-16 code units the UTF-8 text needs (the "character count" TDS length fields hold).
std::size_t utf16Units(const std::string& text);

// SQL Server's default collation is case-insensitive; ASCII folding is enough for the names tests use.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

} // namespace stand_in
