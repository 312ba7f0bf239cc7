#include "lote/Lote.h"

#include "data_access/Lanzadera.h"
#include "login_shared/Secreto.h"
#include "lote/Capacidad.h"
#include "lote/Comprobacion.h"
#include "lote/Entrada.h"
#include "lote/Interrupcion.h"
#include "lote/Opciones.h"
#include "lote/Progreso.h"
#include "lote/Recuento.h"
#include "lote/Salida.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace lote {

namespace {

constexpr char kPrograma[] = "tarpelino-lote";

void avisa(Entorno& e, const std::string& texto) {
    e.errores << kPrograma << ": " << texto << '\n';
}

// The summary ends the table; the other formats, whose output is for programs, give it to
// a person at the terminal of standard error, if there is one.
void escribeRecuento(Entorno& e, const Recuento& recuento, Formato formato) {
    if (recuento.servidores() == 0)
        return;
    if (formato == Formato::Tabla)
        e.salida << '\n' << recuento.texto(e.anchuraSalida) << std::flush;
    else if (e.anchuraErrores != 0)
        e.errores << recuento.texto(e.anchuraErrores) << std::flush;
}

} // namespace

int ejecutaLote(const std::vector<std::string>& argumentos, Entorno& e) {
    // Taken first, whatever the options: a password left in the environment
    // would reach every login process.
    std::optional<login_shared::Secreto> delEntorno =
        e.contrasenaDelEntorno ? e.contrasenaDelEntorno() : std::nullopt;

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
        std::optional<login_shared::Secreto> pedida;
        if (!delEntorno && e.pideContrasena)
            pedida = e.pideContrasena("Contraseña de " + *o.usuario + ": ");
        std::optional<login_shared::Secreto>& contrasena = delEntorno ? delEntorno : pedida;
        if (!contrasena) {
            avisa(e, std::string("no hay terminal donde pedir la contraseña de ") + *o.usuario +
                         ": désela en la variable de entorno TARPELINO_PASSWORD");
            return kErrorUso;
        }
        credencial.password = std::move(*contrasena);
    }

    const LecturaEntrada entrada = leeArchivos(o.archivos, e.entrada);
    for (const std::string& error : entrada.errores)
        avisa(e, error);
    if (entrada.erroresOmitidos != 0)
        avisa(e, "y " + std::to_string(entrada.erroresOmitidos) + " errores más en la entrada");
    if (entrada.servidores.empty() && !entrada.hayErrores()) {
        avisa(e, "no hay ningún servidor que comprobar en la entrada");
        return kErrorUso;
    }

    int paralelo = o.paralelo;
    if (const int equipo = paraleloDelEquipo(); paralelo > equipo) {
        if (entrada.servidores.size() > std::size_t(equipo))
            avisa(e, "--paralelo " + std::to_string(paralelo) +
                         ": este equipo hace a la vez, sin retrasarlos, " + std::to_string(equipo) +
                         " inicios de sesión; se comprueban " + std::to_string(equipo) +
                         " servidores a la vez");
        paralelo = equipo;
    }

    std::unique_ptr<Interrupcion> interrupcion;
    if (e.atiendeSenales)
        interrupcion = std::make_unique<Interrupcion>();
    std::unique_ptr<Progreso> progreso;
    if (e.anchuraErrores != 0 && !entrada.servidores.empty())
        progreso = std::make_unique<Progreso>(e.errores, entrada.servidores.size(), e.anchuraErrores);
    const std::unique_ptr<Escritor> escritor =
        nuevoEscritor(o.formato, e.salida, e.anchuraSalida, o.generaciones, o.versionesTls);

    // The rows and the progress bar, from one thread at a time; once the run
    // is interrupted, the rows of the servers under way are written as they stand.
    std::mutex salidaMutex;
    bool cerrada = false;
    bool todas = entrada.errores.empty();
    std::size_t hechos = 0;
    Recuento recuento(o.generaciones);
    std::vector<bool> escritas(entrada.servidores.size());
    escritor->empieza();
    Comprobacion comprobacion(
        entrada.servidores, o.generaciones, credencial, paralelo, o.arriesgarBloqueo,
        e.fabrica(o.tiempo, o.archivoCa),
        [&](const FilaServidor& fila) {
            std::lock_guard<std::mutex> cerrojo(salidaMutex);
            if (cerrada)
                return;
            escritor->fila(fila);
            escritas[fila.indice] = true;
            recuento.anota(fila);
            todas = todas && std::all_of(fila.pasadas.begin(), fila.pasadas.end(),
                                         [](const probe::ResultadoPasada& p) { return p.correcta; });
            if (progreso)
                progreso->avanza(++hechos, recuento.conFallos());
        },
        [&interrupcion] {
            if (interrupcion)
                interrupcion->avisaFin();
        });
    if (o.versionesTls && e.sondaTls)
        comprobacion.sondeaTls(e.sondaTls(o.tiempo));
    comprobacion.lanza();
    if (interrupcion) {
        if (const int senal = interrupcion->espera(); senal != 0) {
            comprobacion.para();
            // A row that waits for a reader holds this, and the writes here may wait too:
            // the signal's own thread ends the process once its grace is over.
            std::lock_guard<std::mutex> cerrojo(salidaMutex);
            cerrada = true;
            // Every server that started has its row: what it could not end, marked so.
            for (const FilaServidor& fila : comprobacion.enCurso())
                if (!escritas[fila.indice]) {
                    escritor->fila(fila);
                    recuento.anota(fila);
                }
            if (progreso)
                progreso->termina();
            escritor->termina();
            escribeRecuento(e, recuento, o.formato);
            e.salida.flush();
            e.errores.flush();
            // The logins under way end as their channels close with this process.
            std::_Exit(kInterrumpida + senal);
        }
    }
    comprobacion.espera();
    // No login needs the password any more.
    login_shared::borraSecreto(credencial.password);
    if (progreso)
        progreso->termina();
    // The login server, which no more logins will use.
    data_access::terminaServidorLogins();
    escritor->termina();
    escribeRecuento(e, recuento, o.formato);
    e.salida.flush();
    if (entrada.archivoIlegible)
        return kErrorUso;
    return todas ? kTodasCorrectas : kAlgunFallo;
}

} // namespace lote
