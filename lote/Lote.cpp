#include "lote/Lote.h"

#include "data_access/Lanzadera.h"
#include "login_shared/ProtocoloLogin.h"
#include "lote/Comprobacion.h"
#include "lote/Entrada.h"
#include "lote/Opciones.h"
#include "lote/Progreso.h"
#include "lote/Salida.h"

#include <algorithm>
#include <memory>

namespace lote {

namespace {

constexpr char kPrograma[] = "tarpelino-lote";

void avisa(Entorno& e, const std::string& texto) {
    e.errores << kPrograma << ": " << texto << '\n';
}

} // namespace

int ejecutaLote(const std::vector<std::string>& argumentos, Entorno& e) {
    // Taken first, whatever the options: a password left in the environment
    // would reach every login process.
    std::optional<std::string> delEntorno = e.contrasenaDelEntorno ? e.contrasenaDelEntorno() : std::nullopt;
    struct Borra {
        std::optional<std::string>& secreto;
        ~Borra() {
            if (secreto)
                data_access::borraSecreto(*secreto);
        }
    } borra{delEntorno};

    const LecturaOpciones lectura = leeOpciones(argumentos);
    if (!lectura.opciones) {
        avisa(e, lectura.error);
        e.errores << "Pruebe «" << kPrograma << " --help».\n";
        return kErrorUso;
    }
    const Opciones& o = *lectura.opciones;
    if (o.ayuda) {
        e.salida << textoAyuda();
        return kTodasCorrectas;
    }
    if (o.version) {
        e.salida << kPrograma << ' ' << TARPELINO_VERSION << '\n';
        return kTodasCorrectas;
    }

    Credencial credencial;
    credencial.usuario = o.usuario;
    credencial.baseDatos = o.baseDatos;
    if (o.usuario) {
        std::optional<std::string> pedida;
        if (!delEntorno && e.pideContrasena)
            pedida = e.pideContrasena("Contraseña de " + *o.usuario + ": ");
        std::optional<std::string>& contrasena = delEntorno ? delEntorno : pedida;
        if (!contrasena) {
            avisa(e, std::string("no hay terminal donde pedir la contraseña de ") + *o.usuario +
                         ": désela en la variable de entorno TARPELINO_PASSWORD");
            return kErrorUso;
        }
        credencial.password = *contrasena;
        data_access::borraSecreto(*contrasena);
    }

    const LecturaEntrada entrada = leeArchivos(o.archivos, e.entrada);
    for (const std::string& error : entrada.errores)
        avisa(e, error);
    if (entrada.servidores.empty() && entrada.errores.empty())
        avisa(e, "no hay ningún servidor que comprobar");

    std::unique_ptr<Progreso> progreso;
    if (e.anchuraErrores != 0 && !entrada.servidores.empty())
        progreso = std::make_unique<Progreso>(e.errores, entrada.servidores.size(), e.anchuraErrores);
    const std::vector<FilaServidor> filas = compruebaServidores(
        entrada.servidores, credencial, o.paralelo, e.fabrica(o.tiempo), [&progreso](std::size_t hechos) {
            if (progreso)
                progreso->avanza(hechos);
        });
    if (progreso)
        progreso->termina();
    // The login server, which no more logins will use.
    data_access::terminaServidorLogins();

    switch (o.formato) {
    case Formato::Tabla:
        escribeTabla(e.salida, filas, e.anchuraSalida);
        break;
    case Formato::Csv:
        escribeCsv(e.salida, filas);
        break;
    case Formato::Json:
        escribeJson(e.salida, filas);
        break;
    }
    e.salida.flush();

    const bool todas = std::all_of(filas.begin(), filas.end(), [](const FilaServidor& f) {
        return std::all_of(f.pasadas.begin(), f.pasadas.end(),
                           [](const probe::ResultadoPasada& p) { return p.correcta; });
    });
    return todas && entrada.errores.empty() ? kTodasCorrectas : kAlgunFallo;
}

} // namespace lote
