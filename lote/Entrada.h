#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace lote {

// Bounds on what a list may hold, so that no input (/dev/zero, /dev/urandom,
// a generator that never ends) can take the machine's memory or keep the run
// from starting.
inline constexpr std::size_t kMaximoLinea = 4096;        // bytes; no server name comes near
inline constexpr std::size_t kMaximoServidores = 100000; // in one run, over every file
inline constexpr std::size_t kMaximoBytes = 32u << 20;   // of every file together
inline constexpr std::size_t kErroresGuardados = 10;     // kept whole; the rest are counted
inline constexpr std::size_t kMaximoErrores = 1000;      // in one file: past them, it is no list

// One server to test, and where it was read.
struct LineaServidor {
    std::string origen; // the file's name, "entrada estándar" for "-"
    int linea = 0;
    std::string servidor;
};

struct LecturaEntrada {
    std::vector<LineaServidor> servidores;
    std::vector<std::string>
        errores; // the first kErroresGuardados and every refused file, each naming its file
    std::size_t erroresOmitidos = 0; // errors after those
    std::size_t bytes = 0;           // read so far, over every file
    // A file could not be opened or read (missing, a folder, no permission): a usage error, as grep
    // takes it, once the other files' servers are tested.
    bool archivoIlegible = false;

    bool hayErrores() const { return !errores.empty(); }
    // Kept whole while there are few; `siempre`: whatever came before (a file refused).
    void anotaError(std::string error, bool siempre = false);
};

// Lines of `entrada`: "#" starts a comment, blanks around the name are not
// part of it, blank lines are skipped, CRLF ends a line as LF does and a
// UTF-8 byte order mark at the start is skipped. UTF-16 with its byte order
// mark (little- or big-endian, as Windows PowerShell 5.1 writes) is read as
// UTF-8; a line with a surrogate out of its pair is an error. A line that is
// no server name the window takes is an error, and the next line is read. A
// file with a NUL byte (a NUL character in UTF-16) is no list of text: none of
// its servers is kept. The bounds count the bytes as they are in the file.
void leeServidores(std::istream& entrada, const std::string& origen, LecturaEntrada& lectura);

// The same for each file in turn; "-" is `entradaEstandar`. A file that
// cannot be read is an error, and the next file is read.
LecturaEntrada leeArchivos(const std::vector<std::string>& archivos, std::istream& entradaEstandar);

} // namespace lote
