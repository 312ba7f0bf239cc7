#include "lote/Entrada.h"

#include "data_access/Conexion.h"
#include "login_shared/DireccionServidor.h"
#include "login_shared/TextoAscii.h"
#include "login_shared/TextoUtf8.h"
#include "login_shared/Textos.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <utility>

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

// The list's bytes as UTF-8, each counted towards the run's limit as read.
// Windows PowerShell 5.1 writes UTF-16 (">", Out-File), little-endian as a
// rule, always with its byte order mark: such a file is decoded as it is read.
// Any other is read as it is, and a UTF-8 byte order mark is left to the line.
class Fuente {
public:
    static constexpr int kFin = -1;
    static constexpr int kLimite = -2;
    // A code unit that is no character: a surrogate with no pair, a byte left at the end.
    static constexpr int kMalformado = -3;

    Fuente(std::streambuf& buffer, LecturaEntrada& lectura) : buffer_(buffer), lectura_(lectura) {}

    int siguiente() {
        if (!empezada_)
            empieza();
        if (pendiente_ < pendientes_.size())
            return static_cast<unsigned char>(pendientes_[pendiente_++]);
        // The end came while looking for a byte order mark: not asked for twice (a terminal's ^D).
        if (fin_ != 0)
            return fin_;
        if (codificacion_ == Codificacion::Utf8)
            return byte();
        pendientes_.clear();
        pendiente_ = 0;
        const int unidad = unidad16();
        if (unidad < 0)
            return unidad;
        std::uint32_t codigo = std::uint32_t(unidad);
        if (codigo >= 0xDC00 && codigo <= 0xDFFF)
            return malformado("un sustituto bajo (" + hex(codigo) + ") sin el alto delante");
        if (codigo >= 0xD800 && codigo <= 0xDBFF) {
            const int baja = unidad16();
            if (baja == kLimite)
                return baja;
            if (baja < 0xDC00 || baja > 0xDFFF) {
                // The unit after it is a character of its own: kept for the next call.
                if (baja >= 0)
                    guardada_ = baja;
                return malformado("un sustituto alto (" + hex(codigo) + ") sin el bajo detrás");
            }
            codigo = 0x10000 + ((codigo - 0xD800) << 10) + (std::uint32_t(baja) - 0xDC00);
        }
        codificaUtf8(codigo);
        return static_cast<unsigned char>(pendientes_[pendiente_++]);
    }

    // What kMalformado stood for, the last time.
    const std::string& malformacion() const { return malformacion_; }

private:
    enum class Codificacion { Utf8, Utf16Le, Utf16Be };

    int byte() {
        const int c = buffer_.sbumpc();
        if (c == std::char_traits<char>::eof())
            return kFin;
        if (++lectura_.bytes > kMaximoBytes)
            return kLimite;
        return c;
    }

    void empieza() {
        empezada_ = true;
        const int primero = byte();
        if (primero != 0xFF && primero != 0xFE) {
            if (primero >= 0)
                pendientes_.push_back(char(primero));
            else
                fin_ = primero;
            return;
        }
        const int segundo = byte();
        if (primero == 0xFF && segundo == 0xFE) {
            codificacion_ = Codificacion::Utf16Le;
        } else if (primero == 0xFE && segundo == 0xFF) {
            codificacion_ = Codificacion::Utf16Be;
        } else {
            pendientes_.push_back(char(primero));
            if (segundo >= 0)
                pendientes_.push_back(char(segundo));
            else
                fin_ = segundo;
        }
    }

    // The next UTF-16 code unit, kFin or kLimite; kMalformado for a lone byte at the end.
    int unidad16() {
        if (guardada_ >= 0)
            return std::exchange(guardada_, -1);
        const int a = byte();
        if (a < 0)
            return a;
        const int b = byte();
        if (b == kFin)
            return malformado("un byte suelto al final: el archivo acaba a mitad de un carácter");
        if (b < 0)
            return b;
        return codificacion_ == Codificacion::Utf16Le ? a | b << 8 : a << 8 | b;
    }

    int malformado(std::string que) {
        malformacion_ = std::move(que);
        return kMalformado;
    }

    void codificaUtf8(std::uint32_t c) {
        if (c < 0x80) {
            pendientes_ += char(c);
        } else if (c < 0x800) {
            pendientes_ += char(0xC0 | c >> 6);
            pendientes_ += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            pendientes_ += char(0xE0 | c >> 12);
            pendientes_ += char(0x80 | (c >> 6 & 0x3F));
            pendientes_ += char(0x80 | (c & 0x3F));
        } else {
            pendientes_ += char(0xF0 | c >> 18);
            pendientes_ += char(0x80 | (c >> 12 & 0x3F));
            pendientes_ += char(0x80 | (c >> 6 & 0x3F));
            pendientes_ += char(0x80 | (c & 0x3F));
        }
    }

    static std::string hex(std::uint32_t unidad) {
        static constexpr char kCifras[] = "0123456789ABCDEF";
        std::string r = "0x";
        for (int desplazamiento = 12; desplazamiento >= 0; desplazamiento -= 4)
            r += kCifras[unidad >> desplazamiento & 0xF];
        return r;
    }

    std::streambuf& buffer_;
    LecturaEntrada& lectura_;
    Codificacion codificacion_ = Codificacion::Utf8;
    bool empezada_ = false;
    std::string pendientes_; // bytes decoded, or read ahead, not yet given
    std::size_t pendiente_ = 0;
    int guardada_ = -1; // a code unit read ahead
    int fin_ = 0;       // kFin or kLimite, met while looking for a byte order mark
    std::string malformacion_;
};

enum class Fin { Linea, Archivo, Nulo, Limite };

// Reads one line into `texto`, at most kMaximoLinea bytes of it (`larga` says
// the rest was dropped). `malformada`: where in `texto` the first bad UTF-16
// code unit stood, and what it was; npos when none.
Fin leeLinea(Fuente& fuente, std::string& texto, bool& larga, std::size_t& malformada, std::string& que) {
    texto.clear();
    larga = false;
    malformada = std::string::npos;
    for (;;) {
        const int c = fuente.siguiente();
        if (c == Fuente::kFin)
            return texto.empty() && !larga && malformada == std::string::npos ? Fin::Archivo : Fin::Linea;
        if (c == Fuente::kLimite)
            return Fin::Limite;
        if (c == Fuente::kMalformado) {
            if (malformada == std::string::npos) {
                malformada = texto.size();
                que = fuente.malformacion();
            }
            continue;
        }
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
    Fuente fuente(*buffer, lectura);
    std::string texto, malformacion;
    bool larga = false;
    std::size_t malformada = std::string::npos;
    int linea = 0;
    for (;;) {
        Fin fin = Fin::Linea;
        try {
            fin = leeLinea(fuente, texto, larga, malformada, malformacion);
        } catch (const std::exception&) {
            lectura.anotaError(origen + ": error de lectura tras la línea " + std::to_string(linea));
            lectura.archivoIlegible = true;
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
        // The bytes before `contenido`, a byte order mark, count where a bad code unit stood.
        const std::size_t almohadilla = comentario == std::string_view::npos
                                            ? std::string::npos
                                            : std::size_t(contenido.data() - texto.data()) + comentario;
        if (malformada != std::string::npos && malformada <= almohadilla) {
            lectura.anotaError(enLinea(origen, linea) + ": no es UTF-16 válido: " + malformacion +
                               "; no es un nombre de servidor");
            continue;
        }
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
            lectura.anotaError(archivo + ": no se puede leer: " + porQueNoSeLee(EISDIR), true);
            lectura.archivoIlegible = true;
            continue;
        }
        std::ifstream f(archivo);
        if (!f) {
            lectura.anotaError(archivo + ": no se puede leer: " + porQueNoSeLee(errno), true);
            lectura.archivoIlegible = true;
            continue;
        }
        leeServidores(f, archivo, lectura);
    }
    return lectura;
}

} // namespace lote
