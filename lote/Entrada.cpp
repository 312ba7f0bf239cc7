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

std::string enLinea(const std::string& origen, int linea) {
    return origen + ", línea " + std::to_string(linea);
}

// Why `servidor` cannot be tried; empty when it can. What the connection
// object would refuse before reaching the network, said before any login.
std::string motivoNoServidor(const std::string& servidor) {
    if (auto motivo = data_access::motivoValorNoValido(servidor))
        return "El nombre del servidor no es válido: " + *motivo + ".";
    for (unsigned char c : servidor)
        if (c < 0x20 || c == 0x7F)
            return data_access::textos::nombreServidorNoValido(servidor);
    try {
        data_access::leeDireccionServidor(servidor);
    } catch (const data_access::ErrorConexion& error) {
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

} // namespace

void leeServidores(std::istream& entrada, const std::string& origen, LecturaEntrada& lectura) {
    std::string texto;
    int linea = 0;
    while (std::getline(entrada, texto)) {
        ++linea;
        // No server name holds a "#": neither hosts nor instance names may.
        const std::string servidor(data_access::recorta(std::string_view(texto).substr(0, texto.find('#'))));
        if (servidor.empty())
            continue;
        if (const std::string motivo = motivoNoServidor(servidor); !motivo.empty())
            lectura.errores.push_back(enLinea(origen, linea) + ": " + motivo);
        else
            lectura.servidores.push_back({origen, linea, servidor});
    }
    if (entrada.bad())
        lectura.errores.push_back(origen + ": error de lectura tras la línea " + std::to_string(linea));
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
            lectura.errores.push_back(archivo + ": no se puede leer: " + porQueNoSeLee(EISDIR));
            continue;
        }
        std::ifstream f(archivo);
        if (!f) {
            lectura.errores.push_back(archivo + ": no se puede leer: " + porQueNoSeLee(errno));
            continue;
        }
        leeServidores(f, archivo, lectura);
    }
    return lectura;
}

} // namespace lote
