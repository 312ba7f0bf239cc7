#include "lote/Entrada.h"

#include "data_access/Conexion.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/TextoAscii.h"
#include "login_shared/TextoUtf8.h"
#include "login_shared/Textos.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace lote {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

std::string enLinea(const std::string& origen, int linea) {
    return origen + ", línea " + std::to_string(linea);
}

// Why `servidor` cannot be tried; empty when it can. What the connection
// object would refuse before reaching the network, said before any login.
std::string motivoNoServidor(const std::string& servidor) {
    if (auto motivo = login_shared::motivoValorNoValido(servidor))
        return "El nombre del servidor no es válido: " + *motivo + ".";
    for (unsigned char c : servidor)
        if (c < 0x20 || c == 0x7F)
            return login_shared::textos::nombreServidorNoValido(servidor);
    try {
        login_shared::leeDireccionServidor(servidor);
    } catch (const login_shared::ErrorConexion& error) {
        return error.what();
    }
    return {};
}

std::string porQueNoSeLee(int error) {
    switch (error) {
    case ENOENT:
        return "no existe";
    case EACCES:
        return "no tiene permiso para leerlo";
    case EISDIR:
        return "es una carpeta, no un archivo";
    default:
        return "error del sistema " + std::to_string(error);
    }
}

std::string miles(std::size_t n) {
    std::string s = std::to_string(n);
    for (int i = int(s.size()) - 3; i > 0; i -= 3)
        s.insert(std::size_t(i), ".");
    return s;
}

enum class Fin { Linea, Archivo, Nulo, Limite };

// Reads one line into `texto`, at most kMaximoLinea bytes of it (`larga` says
// the rest was dropped); counts every byte towards the run's limit.
Fin leeLinea(std::streambuf& buffer, LecturaEntrada& lectura, std::string& texto, bool& larga) {
    texto.clear();
    larga = false;
    for (;;) {
        const int c = buffer.sbumpc();
        if (c == std::char_traits<char>::eof())
            return texto.empty() && !larga ? Fin::Archivo : Fin::Linea;
        if (++lectura.bytes > kMaximoBytes)
            return Fin::Limite;
        if (c == '\n')
            return Fin::Linea;
        if (c == 0)
            return Fin::Nulo;
        if (texto.size() < kMaximoLinea)
            texto += char(c);
        else
            larga = true;
    }
}

} // namespace

void LecturaEntrada::anotaError(std::string error, bool siempre) {
    if (siempre || errores.size() < kErroresGuardados)
        errores.push_back(std::move(error));
    else
        ++erroresOmitidos;
}

void leeServidores(std::istream& entrada, const std::string& origen, LecturaEntrada& lectura) {
    std::streambuf* buffer = entrada.rdbuf();
    if (!buffer)
        return;
    const std::size_t antes = lectura.servidores.size();
    std::size_t errores = 0;
    std::string texto;
    bool larga = false;
    int linea = 0;
    for (;;) {
        Fin fin = Fin::Linea;
        try {
            fin = leeLinea(*buffer, lectura, texto, larga);
        } catch (const std::exception&) {
            lectura.anotaError(origen + ": error de lectura tras la línea " + std::to_string(linea));
            return;
        }
        if (fin == Fin::Archivo)
            return;
        ++linea;
        if (fin == Fin::Nulo || fin == Fin::Limite) {
            // Not a list, or more than any list: what came before is dropped
            // too, as nothing in it can be trusted to be what was meant.
            lectura.servidores.resize(antes);
            lectura.anotaError(fin == Fin::Nulo
                                   ? enLinea(origen, linea) +
                                         ": tiene un byte nulo: no es una lista de servidores en texto; "
                                         "no se comprueba ningún servidor de este archivo"
                                   : origen + ": la entrada pasa de " + miles(kMaximoBytes >> 20) +
                                         " MiB: no se comprueba ningún servidor de este archivo");
            return;
        }
        std::string_view contenido(texto);
        // Notepad and PowerShell 5 start a UTF-8 file with a byte order mark.
        if (linea == 1 && contenido.substr(0, 3) == kBom)
            contenido.remove_prefix(3);
        // No server name holds a "#": neither hosts nor instance names may.
        const std::size_t comentario = contenido.find('#');
        const std::string servidor(login_shared::recorta(contenido.substr(0, comentario)));
        if (larga && comentario == std::string_view::npos) {
            lectura.anotaError(enLinea(origen, linea) + ": la línea pasa de " + std::to_string(kMaximoLinea) +
                               " bytes: no es un nombre de servidor");
            continue;
        }
        if (servidor.empty())
            continue;
        if (const std::string motivo = motivoNoServidor(servidor); !motivo.empty()) {
            lectura.anotaError(enLinea(origen, linea) + ": " + motivo);
            if (++errores == kMaximoErrores) {
                lectura.servidores.resize(antes);
                lectura.anotaError(
                    enLinea(origen, linea) + ": " + miles(kMaximoErrores) +
                        " líneas que no son servidores: no parece una lista de servidores; no se "
                        "comprueba ningún servidor de este archivo",
                    true);
                return;
            }
        } else if (lectura.servidores.size() >= kMaximoServidores) {
            lectura.servidores.resize(antes);
            lectura.anotaError(enLinea(origen, linea) + ": más de " + miles(kMaximoServidores) +
                                   " servidores en una ejecución: divida la lista; no se comprueba ningún "
                                   "servidor de este archivo",
                               true);
            return;
        } else {
            lectura.servidores.push_back({origen, linea, servidor});
        }
    }
}

LecturaEntrada leeArchivos(const std::vector<std::string>& archivos, std::istream& entradaEstandar) {
    LecturaEntrada lectura;
    for (const std::string& archivo : archivos) {
        if (archivo == "-") {
            leeServidores(entradaEstandar, "entrada estándar", lectura);
            continue;
        }
        std::error_code error;
        if (std::filesystem::is_directory(archivo, error)) {
            lectura.anotaError(archivo + ": no se puede leer: " + porQueNoSeLee(EISDIR));
            continue;
        }
        std::ifstream f(archivo);
        if (!f) {
            lectura.anotaError(archivo + ": no se puede leer: " + porQueNoSeLee(errno));
            continue;
        }
        leeServidores(f, archivo, lectura);
    }
    return lectura;
}

} // namespace lote
