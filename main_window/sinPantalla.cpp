#include "main_window/sinPantalla.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::string valor(const char* variable) {
    const char* v = std::getenv(variable);
    return v ? v : "";
}

struct MensajeRetenido {
    QtMsgType tipo;
    std::string categoria;
    QString texto;
};

std::mutex mutex;
QtMessageHandler anterior = nullptr;
std::vector<MensajeRetenido> retenidos;
// The variable naming the display a platform plugin could not connect to.
const char* variableSinConexion = nullptr;

// The platform plugins that connect to a display say so in their own category
// ("qt.qpa.xcb: could not connect to display"); the fatal message that follows
// is Qt's and names no display. A plugin that is missing altogether says
// nothing there, and Qt's own abort tells that story.
const char* variableDelPlugin(const char* categoria) {
    if (!categoria)
        return nullptr;
    if (std::strcmp(categoria, "qt.qpa.xcb") == 0)
        return "DISPLAY";
    if (std::strcmp(categoria, "qt.qpa.wayland") == 0)
        return "WAYLAND_DISPLAY";
    return nullptr;
}

void pasaRetenidos() {
    for (const MensajeRetenido& m : retenidos)
        anterior(m.tipo, QMessageLogContext(nullptr, 0, nullptr, m.categoria.c_str()), m.texto);
    retenidos.clear();
}

void vigila(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto) {
    std::lock_guard<std::mutex> cerrojo(mutex);
    if (tipo == QtFatalMsg && variableSinConexion) {
        const std::string nombre = valor(variableSinConexion);
        const std::string motivo =
            nombre.empty()
                ? std::string(variableSinConexion) + " no nombra ninguna"
                : "no se pudo conectar con la de " + std::string(variableSinConexion) + "=«" + nombre + "»";
        std::fputs(mensajeSinPantalla(motivo).c_str(), stderr);
        std::fflush(stderr);
        // Not exit(): the application is half built, and no destructor may run.
        std::_Exit(kEstadoSinPantalla);
    }
    if (tipo == QtFatalMsg) {
        pasaRetenidos();
        anterior(tipo, contexto, texto);
        return;
    }
    if (const char* variable = variableDelPlugin(contexto.category))
        variableSinConexion = variable;
    retenidos.push_back({tipo, contexto.category ? contexto.category : "", texto});
}

} // namespace

std::string mensajeSinPantalla(const std::string& motivo) {
    return "tarpelino: no hay ninguna pantalla gráfica en la que mostrar la ventana (" + motivo +
           ").\n"
           "En una máquina sin pantalla, use tarpelino-lote: prueba los mismos inicios de sesión desde la\n"
           "línea de órdenes (tarpelino-lote --usuario USUARIO servidores.txt; man tarpelino-lote).\n";
}

std::optional<std::string> faltaPantalla(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return std::nullopt;
    if (!valor("QT_QPA_PLATFORM").empty() || !valor("DISPLAY").empty() || !valor("WAYLAND_DISPLAY").empty())
        return std::nullopt;
    return "ni DISPLAY ni WAYLAND_DISPLAY nombran una";
}

VigilanciaPantalla::VigilanciaPantalla() {
    anterior = qInstallMessageHandler(vigila);
}

VigilanciaPantalla::~VigilanciaPantalla() {
    qInstallMessageHandler(anterior);
    std::lock_guard<std::mutex> cerrojo(mutex);
    pasaRetenidos();
}
