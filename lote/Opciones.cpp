#include "lote/Opciones.h"

#include <algorithm>
#include <charconv>
#include <getopt.h>
#include <iterator>
#include <mutex>
#include <utility>

namespace lote {

namespace {

constexpr int kTiempoMaximo = 3600;
constexpr int kParaleloMaximo = 256;

// The options getopt_long parses: the common ones have a short form too, and
// the others a code past any character's.
enum : int { kBbdd = 256, kGeneraciones, kCa, kArriesgarBloqueo, kVersionesTls };

struct Opcion {
    const char* nombre;
    int codigo;
    bool conValor;
};

constexpr Opcion kOpciones[] = {
    {"usuario", 'u', true},
    {"bbdd", kBbdd, true},
    {"tiempo", 't', true},
    {"paralelo", 'p', true},
    {"formato", 'f', true},
    {"generaciones", kGeneraciones, true},
    {"ca", kCa, true},
    {"arriesgar-bloqueo", kArriesgarBloqueo, false},
    {"versiones-tls", kVersionesTls, false},
    {"help", 'h', false},
    {"version", 'v', false},
};
constexpr char kCortas[] = ":u:t:p:f:hv";

constexpr std::pair<const char*, Formato> kFormatos[] = {
    {"tabla", Formato::Tabla}, {"csv", Formato::Csv},          {"csv-excel", Formato::CsvExcel},
    {"json", Formato::Json},   {"jsonl", Formato::JsonLineas},
};

const Opcion* opcionDeCodigo(int codigo) {
    for (const Opcion& op : kOpciones)
        if (op.codigo == codigo)
            return &op;
    return nullptr;
}

// The long options an abbreviation could be, as getopt_long matches them.
std::vector<std::string> opcionesQueEmpiezanPor(const std::string& prefijo) {
    std::vector<std::string> r;
    for (const Opcion& op : kOpciones)
        if (std::string_view(op.nombre).substr(0, prefijo.size()) == prefijo)
            r.push_back(std::string("--") + op.nombre);
    return r;
}

bool leeEntero(const std::string& texto, int minimo, int maximo, int& valor) {
    int n = 0;
    const char* fin = texto.data() + texto.size();
    const auto [p, error] = std::from_chars(texto.data(), fin, n);
    if (error != std::errc() || p != fin || n < minimo || n > maximo)
        return false;
    valor = n;
    return true;
}

LecturaOpciones errorUso(std::string texto) {
    return {std::nullopt, std::move(texto)};
}

std::string nombresDeGeneraciones() {
    std::string nombres;
    for (const login_shared::Proveedor& g : login_shared::todasLasGeneraciones())
        nombres += std::string(nombres.empty() ? "" : ", ") + g.version;
    return nombres;
}

// "2005,odbc18" or "todas"; nothing when a name is no generation's.
std::optional<std::vector<const login_shared::Proveedor*>> leeGeneraciones(const std::string& lista,
                                                                           std::string& desconocida) {
    std::vector<const login_shared::Proveedor*> elegidas;
    if (lista == "todas") {
        for (const login_shared::Proveedor& g : login_shared::todasLasGeneraciones())
            elegidas.push_back(&g);
        return elegidas;
    }
    std::size_t desde = 0;
    for (;;) {
        const std::size_t coma = lista.find(',', desde);
        const std::string nombre = lista.substr(desde, coma - desde);
        const login_shared::Proveedor* g = login_shared::generacionDeVersion(nombre);
        if (!g) {
            desconocida = nombre;
            return std::nullopt;
        }
        // Named twice, made once.
        if (std::find(elegidas.begin(), elegidas.end(), g) == elegidas.end())
            elegidas.push_back(g);
        if (coma == std::string::npos)
            return elegidas;
        desde = coma + 1;
    }
}

} // namespace

LecturaOpciones leeOpciones(const std::vector<std::string>& argumentos) {
    // getopt_long keeps its state in globals: one parse at a time.
    static std::mutex mutex;
    std::lock_guard<std::mutex> cerrojo(mutex);
    std::vector<std::string> copias{"tarpelino-lote"};
    copias.insert(copias.end(), argumentos.begin(), argumentos.end());
    std::vector<char*> argv;
    for (std::string& a : copias)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = int(copias.size());
    std::vector<option> largas;
    for (const Opcion& op : kOpciones)
        largas.push_back({op.nombre, op.conValor ? required_argument : no_argument, nullptr, op.codigo});
    largas.push_back({nullptr, 0, nullptr, 0});
    // Its own English messages are replaced by ours; ':' first tells a missing value from an unknown option.
    opterr = 0;
    // 0 starts it afresh, as if for a new program.
    optind = 0;

    Opciones o;
    for (;;) {
        const int codigo = ::getopt_long(argc, argv.data(), kCortas, largas.data(), nullptr);
        if (codigo == -1)
            break;
        // What was typed: a long option and its value are always one element, or the last one.
        const std::string escrita = optind > 0 && optind <= argc ? argv[std::size_t(optind) - 1] : "";
        if (codigo == ':') {
            const Opcion* op = opcionDeCodigo(optopt);
            const std::string nombre = escrita.rfind("--", 0) == 0 && op ? std::string("--") + op->nombre
                                                                         : std::string("-") + char(optopt);
            return errorUso("a la opción " + nombre + " le falta su valor");
        }
        if (codigo == '?') {
            // A short option getopt_long does not know, or a long option it could not take.
            if (optopt != 0) {
                if (const Opcion* op = opcionDeCodigo(optopt))
                    return errorUso("la opción --" + std::string(op->nombre) + " no lleva valor");
                return errorUso("opción desconocida: -" + std::string(1, char(optopt)));
            }
            const std::string nombre = escrita.substr(0, escrita.find('='));
            const std::vector<std::string> posibles = opcionesQueEmpiezanPor(nombre.substr(2));
            if (posibles.size() > 1 && nombre.size() > 2) {
                std::string lista;
                for (std::size_t i = 0; i < posibles.size(); ++i)
                    lista += (i == 0 ? "" : i + 1 == posibles.size() ? " o " : ", ") + posibles[i];
                return errorUso("opción ambigua: " + nombre + "; puede ser " + lista);
            }
            return errorUso("opción desconocida: " + nombre);
        }
        const std::string valor = optarg ? optarg : "";
        switch (codigo) {
        case 'h':
            o.ayuda = true;
            break;
        case 'v':
            o.version = true;
            break;
        case kArriesgarBloqueo:
            o.arriesgarBloqueo = true;
            break;
        case kVersionesTls:
            o.versionesTls = true;
            break;
        case 'u':
            if (valor.empty())
                return errorUso("--usuario vacío: para la seguridad integrada no indique --usuario");
            o.usuario = valor;
            break;
        case kBbdd:
            o.baseDatos = valor;
            break;
        case kGeneraciones: {
            std::string desconocida;
            auto elegidas = leeGeneraciones(valor, desconocida);
            if (!elegidas)
                return errorUso("--generaciones: «" + desconocida + "» no es ninguna generación; son " +
                                nombresDeGeneraciones() + ", o todas");
            o.generaciones = std::move(*elegidas);
            break;
        }
        case kCa:
            if (valor.empty())
                return errorUso("--ca vacío: indique un archivo PEM con los certificados de las entidades");
            o.archivoCa = valor;
            break;
        case 't':
            if (!leeEntero(valor, 1, kTiempoMaximo, o.tiempo))
                return errorUso("--tiempo debe ser un número entero de segundos entre 1 y " +
                                std::to_string(kTiempoMaximo) + ", no «" + valor + "»");
            break;
        case 'p':
            if (!leeEntero(valor, 1, kParaleloMaximo, o.paralelo))
                return errorUso("--paralelo debe ser un número entero entre 1 y " +
                                std::to_string(kParaleloMaximo) + ", no «" + valor + "»");
            break;
        case 'f': {
            const auto formato = std::find_if(std::begin(kFormatos), std::end(kFormatos),
                                              [&](const auto& f) { return valor == f.first; });
            if (formato == std::end(kFormatos))
                return errorUso("--formato debe ser tabla, csv, csv-excel, json o jsonl, no «" + valor + "»");
            o.formato = formato->second;
            break;
        }
        }
    }
    // What getopt_long left after the options, in their order ("--" ends the options).
    for (int i = optind; i < argc; ++i)
        o.archivos.push_back(argv[std::size_t(i)]);
    if (o.generaciones.empty())
        for (const login_shared::Proveedor& g : login_shared::generaciones())
            o.generaciones.push_back(&g);
    if (o.archivos.empty() && !o.ayuda && !o.version)
        return errorUso("falta el archivo de servidores (o «-» para la entrada estándar)");
    return {o, {}};
}

std::string textoAyuda() {
    return "Uso: tarpelino-lote [OPCIONES] ARCHIVO...\n"
           "Comprueba el inicio de sesión en cada SQL Server de ARCHIVO (uno por línea; «#» empieza\n"
           "un comentario; «-» es la entrada estándar; en UTF-8 o, con su marca de orden de bytes,\n"
           "en UTF-16 como la guarda PowerShell 5) con el cliente de 2005 y con el de 2008, como\n"
           "la ventana de Tarpelino (o con los de --generaciones), y da el veredicto de cada uno.\n"
           "\n"
           "  -u, --usuario USUARIO  inicio de sesión de SQL Server; sin él, seguridad integrada.\n"
           "                         La contraseña se toma de TARPELINO_PASSWORD o se pide en el\n"
           "                         terminal.\n"
           "      --bbdd BASE        base de datos (por defecto, MASTER)\n"
           "  -t, --tiempo SEGUNDOS  tiempo máximo de cada intento (por defecto, 15)\n"
           "  -p, --paralelo N       servidores a la vez (por defecto, 8; nunca más de los que\n"
           "                         este equipo puede atender sin retrasarlos)\n"
           "  -f, --formato FORMATO  tabla, csv, csv-excel, json o jsonl (por defecto, tabla);\n"
           "                         csv-excel es el CSV que abre bien un Excel en español\n"
           "                         (marca de orden de bytes UTF-8, «;» entre campos); salvo la\n"
           "                         tabla, cada servidor se escribe en cuanto termina\n"
           "      --generaciones LISTA  clientes con los que probar, separados por comas, en ese\n"
           "                         orden: 2005, 2008 (los de la ventana, por defecto), odbc17\n"
           "                         (ODBC Driver 17 y los de 2017 a 2021: TDS 7.4, TLS 1.2, el\n"
           "                         certificado sin comprobar), odbc18 (ODBC Driver 18 y los\n"
           "                         actuales: todo cifrado y el certificado comprobado), o todas\n"
           "      --ca ARCHIVO       certificados PEM de entidades en las que confía odbc18\n"
           "                         además de las del sistema (una entidad de la empresa)\n"
           "      --arriesgar-bloqueo  con una cuenta de dominio (DOMINIO\\usuario), seguir\n"
           "                         probando aunque un servidor haya rechazado su contraseña;\n"
           "                         sin esta opción no se hace ningún inicio de sesión más,\n"
           "                         para no bloquear la cuenta\n"
           "      --versiones-tls    añade las versiones de TLS (1.0, 1.1, 1.2) con las que cada\n"
           "                         servidor completa el protocolo de enlace, sin iniciar\n"
           "                         sesión: no se envía ninguna contraseña. Un intento por\n"
           "                         versión, todos dentro de --tiempo\n"
           "  -h, --help             muestra esta ayuda y termina\n"
           "  -v, --version          muestra la versión y termina\n"
           "\n"
           "La tabla termina con un resumen: por cada cliente, los intentos correctos y los\n"
           "fallidos por causa. Un servidor al que un intento no llegó (el nombre, la instancia,\n"
           "la conexión TCP) no se prueba con los clientes que siguen.\n"
           "\n"
           "Una opción larga vale abreviada mientras no sea ambigua (--para 16); las opciones\n"
           "pueden ir también detrás de los archivos, y «--» las termina.\n"
           "\n"
           "Estado de salida: 0 si todos los intentos iniciaron sesión; 1 si alguno falló o no se\n"
           "intentó, o parte de la entrada no son servidores; 2 si la orden está mal escrita, la\n"
           "lista no tiene ningún servidor o algún archivo no se pudo leer (tras comprobar los\n"
           "demás); 130, 143 o 129 si se interrumpió (SIGINT, SIGTERM, SIGHUP), tras escribir lo\n"
           "ya comprobado.\n"
           "Más información: man tarpelino-lote\n";
}

} // namespace lote
