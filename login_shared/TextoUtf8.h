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

// For messages: control characters (line breaks too, U+2028 and U+2029
// with them, so that no text of a server's can pass for a line of ours),
// zero-width characters and direction marks (U+200B to U+200F),
// bidirectional embeddings, overrides and isolates (U+202A to U+202E, U+2066
// to U+2069) and U+FEFF written as their code point ("U+202E"), a lone
// surrogate in its UTF-8-shaped bytes too ("U+D800"), other bytes that are
// not UTF-8 as \xNN, so that nothing is invisible, nothing cuts the text and
// nothing reorders it.
std::string visible(std::string_view texto);

} // namespace login_shared
