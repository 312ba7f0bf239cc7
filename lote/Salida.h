#pragma once

#include "lote/Comprobacion.h"

#include <cstddef>
#include <ostream>
#include <vector>

namespace lote {

// One row per server, with both passes' fields, in each format.

// RFC 4180: a header line, CRLF line ends, fields with a comma, a quote, CR or LF quoted.
void escribeCsv(std::ostream& salida, const std::vector<FilaServidor>& filas);

// One array, an object per server; every string escaped as JSON requires.
void escribeJson(std::ostream& salida, const std::vector<FilaServidor>& filas);

// Columns for people: one line per pass, a server's two together. The
// description wraps within `anchura` characters; on a terminal too narrow for
// all the columns, the server's name goes above its passes and each
// description below its pass. 0: no limit, nothing wrapped.
void escribeTabla(std::ostream& salida, const std::vector<FilaServidor>& filas, std::size_t anchura);

} // namespace lote
