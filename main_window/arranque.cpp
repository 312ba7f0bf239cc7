#include "main_window/arranque.h"

#include "main_window/mensajeCritico.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>

namespace {

constexpr char kVersion[] = "1.0.0.0";

std::string ayuda() {
    return std::string("Uso: tarpelino [opciones]\n"
                       "\n"
                       "Comprueba si un SQL Server acepta un inicio de sesión a través del cliente de\n"
                       "SQL Server 2005 (SQLNCLI, TDS 7.2) y del de SQL Server 2008 (SQLNCLI10, TDS 7.3),\n"
                       "cada uno con el cifrado que ofrecía su época, y si no, explica por qué.\n"
                       "\n"
                       "Sin opciones abre la ventana: escriba el servidor (SRV01, SRV01,1533,\n"
                       "SRV01\\SQLEXPRESS, tcp:10.0.0.5,1433), el usuario y la contraseña (sin usuario,\n"
                       "seguridad integrada con Kerberos) y la base de datos, y pulse «Test Conexión».\n"
                       "\n"
                       "Opciones:\n"
                       "  -h, --help       muestra esta ayuda y termina\n"
                       "  -v, --version    muestra la versión y termina\n"
                       "\n"
                       "También acepta las opciones de Qt (por ejemplo -platform xcb).\n"
                       "Más información: man tarpelino\n");
}

} // namespace

std::optional<RespuestaLineaOrdenes> respondeLineaOrdenes(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return RespuestaLineaOrdenes{ayuda(), 0};
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0)
            return RespuestaLineaOrdenes{std::string("tarpelino ") + kVersion + "\n", 0};
    }
    return std::nullopt;
}

void instalaTraduccionesQt(QCoreApplication& aplicacion) {
    auto* traductor = new QTranslator(&aplicacion);
    if (traductor->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(traductor);
    else
        delete traductor;
}
