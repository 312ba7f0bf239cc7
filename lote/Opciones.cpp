#include "lote/Opciones.h"

#include <algorithm>
#include <charconv>

namespace lote {

namespace {

constexpr int kTiempoMaximo = 3600;
constexpr int kParaleloMaximo = 256;

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
    Opciones o;
    bool soloArchivos = false;
    for (std::size_t i = 0; i < argumentos.size(); ++i) {
        const std::string& a = argumentos[i];
        if (soloArchivos || a == "-" || a.rfind("-", 0) != 0) {
            o.archivos.push_back(a);
            continue;
        }
        if (a == "--") {
            soloArchivos = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.ayuda = true;
            continue;
        }
        if (a == "--version" || a == "-v") {
            o.version = true;
            continue;
        }
        if (a == "--arriesgar-bloqueo") {
            o.arriesgarBloqueo = true;
            continue;
        }
        if (a == "--versiones-tls") {
            o.versionesTls = true;
            continue;
        }
        const auto igual = a.find('=');
        const std::string nombre = a.substr(0, igual);
        if (nombre != "--usuario" && nombre != "--bbdd" && nombre != "--tiempo" && nombre != "--paralelo" &&
            nombre != "--formato" && nombre != "--generaciones" && nombre != "--ca")
            return errorUso("opción desconocida: " + nombre);
        std::string valor;
        if (igual != std::string::npos) {
            valor = a.substr(igual + 1);
        } else if (i + 1 < argumentos.size()) {
            valor = argumentos[++i];
        } else {
            return errorUso("a la opción " + nombre + " le falta su valor");
        }
        if (nombre == "--usuario") {
            if (valor.empty())
                return errorUso("--usuario vacío: para la seguridad integrada no indique --usuario");
            o.usuario = valor;
        } else if (nombre == "--bbdd") {
            o.baseDatos = valor;
        } else if (nombre == "--generaciones") {
            std::string desconocida;
            auto elegidas = leeGeneraciones(valor, desconocida);
            if (!elegidas)
                return errorUso("--generaciones: «" + desconocida + "» no es ninguna generación; son " +
                                nombresDeGeneraciones() + ", o todas");
            o.generaciones = std::move(*elegidas);
        } else if (nombre == "--ca") {
            if (valor.empty())
                return errorUso("--ca vacío: indique un archivo PEM con los certificados de las entidades");
            o.archivoCa = valor;
        } else if (nombre == "--tiempo") {
            if (!leeEntero(valor, 1, kTiempoMaximo, o.tiempo))
                return errorUso("--tiempo debe ser un número entero de segundos entre 1 y " +
                                std::to_string(kTiempoMaximo) + ", no «" + valor + "»");
        } else if (nombre == "--paralelo") {
            if (!leeEntero(valor, 1, kParaleloMaximo, o.paralelo))
                return errorUso("--paralelo debe ser un número entero entre 1 y " +
                                std::to_string(kParaleloMaximo) + ", no «" + valor + "»");
        } else if (valor == "tabla") {
            o.formato = Formato::Tabla;
        } else if (valor == "csv") {
            o.formato = Formato::Csv;
        } else if (valor == "json") {
            o.formato = Formato::Json;
        } else if (valor == "jsonl") {
            o.formato = Formato::JsonLineas;
        } else {
            return errorUso("--formato debe ser tabla, csv, json o jsonl, no «" + valor + "»");
        }
    }
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
           "un comentario; «-» es la entrada estándar) con el cliente de 2005 y con el de 2008,\n"
           "como la ventana de Tarpelino (o con los de --generaciones), y da el veredicto de\n"
           "cada uno.\n"
           "\n"
           "  --usuario USUARIO   inicio de sesión de SQL Server; sin él, seguridad integrada.\n"
           "                      La contraseña se toma de TARPELINO_PASSWORD o se pide en el terminal.\n"
           "  --bbdd BASE         base de datos (por defecto, MASTER)\n"
           "  --tiempo SEGUNDOS   tiempo máximo de cada intento (por defecto, 15)\n"
           "  --paralelo N        servidores a la vez (por defecto, 8; nunca más de los que\n"
           "                      este equipo puede atender sin retrasarlos)\n"
           "  --formato FORMATO   tabla, csv, json o jsonl (por defecto, tabla); salvo la\n"
           "                      tabla, cada servidor se escribe en cuanto termina\n"
           "  --generaciones LISTA  clientes con los que probar, separados por comas, en ese\n"
           "                      orden: 2005, 2008 (los de la ventana, por defecto), odbc17\n"
           "                      (ODBC Driver 17 y los de 2017 a 2021: TDS 7.4, TLS 1.2, el\n"
           "                      certificado sin comprobar), odbc18 (ODBC Driver 18 y los\n"
           "                      actuales: todo cifrado y el certificado comprobado), o todas\n"
           "  --ca ARCHIVO        certificados PEM de entidades en las que confía odbc18\n"
           "                      además de las del sistema (una entidad de la empresa)\n"
           "  --arriesgar-bloqueo con una cuenta de dominio (DOMINIO\\usuario), seguir probando\n"
           "                      aunque un servidor haya rechazado su contraseña; sin esta\n"
           "                      opción no se hace ningún inicio de sesión más, para no\n"
           "                      bloquear la cuenta\n"
           "  --versiones-tls     añade las versiones de TLS (1.0, 1.1, 1.2) con las que cada\n"
           "                      servidor completa el protocolo de enlace, sin iniciar sesión:\n"
           "                      no se envía ninguna contraseña. Un intento por versión,\n"
           "                      todos dentro de --tiempo\n"
           "  -h, --help          muestra esta ayuda y termina\n"
           "  -v, --version       muestra la versión y termina\n"
           "\n"
           "Estado de salida: 0 si todos los intentos iniciaron sesión, 1 si alguno falló, no\n"
           "se intentó o alguna entrada no se pudo leer, 2 si la orden está mal escrita o la\n"
           "lista no tiene ningún servidor; 130, 143 o 129 si se interrumpió (SIGINT, SIGTERM,\n"
           "SIGHUP), tras escribir lo ya comprobado.\n"
           "Más información: man tarpelino-lote\n";
}

} // namespace lote
