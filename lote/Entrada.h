#pragma once

#include <istream>
#include <string>
#include <vector>

namespace lote {

// One server to test, and where it was read.
struct LineaServidor {
    std::string origen; // the file's name, "entrada estándar" for "-"
    int linea = 0;
    std::string servidor;
};

struct LecturaEntrada {
    std::vector<LineaServidor> servidores;
    std::vector<std::string> errores; // each names its file and line; the rest is still read
};

// Lines of `entrada`: "#" starts a comment, blanks around the name are not
// part of it, blank lines are skipped. A line that is no server name the
// window takes is an error, and the next line is read.
void leeServidores(std::istream& entrada, const std::string& origen, LecturaEntrada& lectura);

// The same for each file in turn; "-" is `entradaEstandar`. A file that
// cannot be read is an error, and the next file is read.
LecturaEntrada leeArchivos(const std::vector<std::string>& archivos, std::istream& entradaEstandar);

} // namespace lote
