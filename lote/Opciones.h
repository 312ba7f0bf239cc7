#pragma once

#include "login_shared/Proveedor.h"

#include <optional>
#include <string>
#include <vector>

namespace lote {

// CsvExcel: CSV as a Spanish Excel opens it (a UTF-8 byte order mark, ";" between fields).
enum class Formato { Tabla, Csv, CsvExcel, Json, JsonLineas };

// What the command line asks for. The password is never among them.
struct Opciones {
    std::vector<std::string> archivos;  // "-": standard input
    std::optional<std::string> usuario; // none: integrated security
    std::string baseDatos;              // empty: the default one, as in the window
    int tiempo = 15;                    // seconds per pass
    int paralelo = 8;                   // servers at once
    Formato formato = Formato::Tabla;
    // The passes made for each server, in this order: the window's two unless asked.
    std::vector<const login_shared::Proveedor*> generaciones;
    std::string archivoCa; // PEM file of CAs a checking client trusts besides the system's
    // Go on with a domain account's password after a server refused it, at the risk of locking it out.
    bool arriesgarBloqueo = false;
    // Each server's TLS versions too, found without a login.
    bool versionesTls = false;
    bool ayuda = false;
    bool version = false;
};

struct LecturaOpciones {
    std::optional<Opciones> opciones;
    std::string error; // a usage error, in Spanish, when there are no options
};

// argv without the program's name, parsed as getopt_long parses it: "--opcion valor",
// "--opcion=valor", an unambiguous abbreviation ("--para"), the short forms (-u, -t, -p, -f,
// -h, -v), options after the files too; "--" ends the options.
LecturaOpciones leeOpciones(const std::vector<std::string>& argumentos);

std::string textoAyuda();

} // namespace lote
