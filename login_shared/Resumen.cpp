#include "login_shared/Resumen.h"

#include "login_shared/Serializacion.h"

#include <stdexcept>

namespace login_shared {

std::string serializa(const VersionesTls& v) {
    Escritor e;
    e.textos(v.aceptadas);
    e.texto(v.motivo);
    return e.datos_;
}

VersionesTls deserializaVersionesTls(const std::string& cuerpo) {
    Lector l(cuerpo);
    VersionesTls v;
    v.aceptadas = l.textos();
    v.motivo = l.texto();
    return v;
}

std::string serializa(const ResumenLogin& r) {
    Escritor e;
    e.texto(r.versionTds);
    e.texto(r.servidor);
    e.texto(r.direccion);
    e.numero(r.puerto);
    e.numero(r.loginCifrado);
    e.numero(r.sesionCifrada);
    e.numero(r.versionTls);
    e.numero(r.suiteTls);
    e.texto(r.certificadoSujeto);
    e.texto(r.certificadoEmisor);
    e.numero(std::uint64_t(r.certificadoCaduca));
    e.texto(r.certificadoClave);
    e.numero(r.certificadoBits);
    e.texto(r.versionServidor);
    e.numero(r.certificadoJuzgado);
    e.texto(r.rechazoClienteActual);
    return e.datos_;
}

ResumenLogin deserializaResumen(const std::string& cuerpo) {
    Lector l(cuerpo);
    ResumenLogin r;
    r.versionTds = l.texto();
    r.servidor = l.texto();
    r.direccion = l.texto();
    r.puerto = std::uint16_t(l.numero());
    r.loginCifrado = l.numero() != 0;
    r.sesionCifrada = l.numero() != 0;
    r.versionTls = std::uint16_t(l.numero());
    r.suiteTls = std::uint16_t(l.numero());
    r.certificadoSujeto = l.texto();
    r.certificadoEmisor = l.texto();
    r.certificadoCaduca = std::int64_t(l.numero());
    r.certificadoClave = l.texto();
    r.certificadoBits = unsigned(l.numero());
    r.versionServidor = l.texto();
    r.certificadoJuzgado = l.numero() != 0;
    r.rechazoClienteActual = l.texto();
    return r;
}

std::string serializa(const FalloLogin& f) {
    Escritor e;
    e.texto(std::string(codigoCausa(f.causa)));
    e.texto(f.descripcion);
    e.texto(f.versionServidor);
    e.numero(f.transcurrido ? std::uint64_t(f.transcurrido->count()) + 1 : 0);
    e.numero(f.errorServidor ? std::uint64_t(std::uint32_t(*f.errorServidor)) + 1 : 0);
    e.numero(f.pruebaEnviada ? 1 : 0);
    return e.datos_;
}

FalloLogin deserializaFallo(const std::string& cuerpo) {
    Lector l(cuerpo);
    FalloLogin f;
    const auto causa = causaDeCodigo(l.texto());
    if (!causa)
        throw std::runtime_error("causa de fallo desconocida");
    f.causa = *causa;
    f.descripcion = l.texto();
    f.versionServidor = l.texto();
    if (const std::uint64_t transcurrido = l.numero())
        f.transcurrido = std::chrono::milliseconds(transcurrido - 1);
    if (const std::uint64_t error = l.numero())
        f.errorServidor = std::int32_t(std::uint32_t(error - 1));
    f.pruebaEnviada = l.numero() != 0;
    return f;
}

} // namespace login_shared
