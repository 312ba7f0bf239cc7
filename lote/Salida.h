#pragma once

#include "lote/Comprobacion.h"
#include "lote/Opciones.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <vector>

namespace lote {

// Writes the servers' rows in one format as they end, so that a run cut
// short keeps every row already written. Not thread-safe: one caller at a time.
class Escritor {
public:
    virtual ~Escritor() = default;
    virtual void empieza() {}
    // One server, both passes; flushed before it returns.
    virtual void fila(const FilaServidor& fila) = 0;
    // Closes what was written (the JSON array) or draws what waited for every row (the table).
    virtual void termina() {}
};

// CSV (RFC 4180: a header line, CRLF line ends, fields with a comma, a quote,
// CR or LF quoted; a field a spreadsheet would take for a formula starts with
// a quote), JSON (one array, an object per server, valid whenever the run
// ends), JSON Lines (one object per line) or the table for people, which is
// drawn at the end within `anchura` characters (0: no limit).
// `generaciones`: the run's, each a column group of CSV's and an object of each server's in JSON.
// `versionesTls`: the columns of each server's TLS versions too (CSV; the others write what a row has).
std::unique_ptr<Escritor> nuevoEscritor(Formato formato, std::ostream& salida, std::size_t anchura,
                                        const Generaciones& generaciones = generacionesDeLaVentana(),
                                        bool versionesTls = false);
// `excel`: as a Spanish Excel opens it, a UTF-8 byte order mark first and ";" between fields.
std::unique_ptr<Escritor> nuevoEscritorCsv(std::ostream& salida, const Generaciones& generaciones,
                                           bool versionesTls = false, bool excel = false);
std::unique_ptr<Escritor> nuevoEscritorJson(std::ostream& salida);
std::unique_ptr<Escritor> nuevoEscritorJsonLineas(std::ostream& salida);
std::unique_ptr<Escritor> nuevoEscritorTabla(std::ostream& salida, std::size_t anchura);

// Every row at once, in one format.
void escribeCsv(std::ostream& salida, const std::vector<FilaServidor>& filas,
                const Generaciones& generaciones = generacionesDeLaVentana());
void escribeJson(std::ostream& salida, const std::vector<FilaServidor>& filas);
void escribeTabla(std::ostream& salida, const std::vector<FilaServidor>& filas, std::size_t anchura);

} // namespace lote
