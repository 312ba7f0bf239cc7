#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace login_shared {

// Why `texto` cannot travel as a login value: a NUL (db-lib reads C strings
// and would cut it there) or bytes that are not UTF-8 (a lone surrogate
// from the window arrives encoded as one). Empty when it can.
std::optional<std::string> motivoValorNoValido(std::string_view texto);

// Length in UTF-16 code units, the unit of SQL Server's 128-character limits.
std::size_t unidadesUtf16(std::string_view utf8);

// For messages: every character that shows as nothing or reorders the text
// around it is written as its code point ("U+202E"), decided by its Unicode
// properties: controls (line breaks too, so that no text of a server's can
// pass for a line of ours), format characters (Cf), bidirectional controls,
// default-ignorable characters, line and paragraph separators, private-use
// and unassigned code points. A lone surrogate in its UTF-8-shaped bytes is
// written so too ("U+D800"), other bytes that are not UTF-8 as \xNN: nothing
// is invisible, nothing cuts the text and nothing reorders it.
std::string visible(std::string_view texto);

} // namespace login_shared
