#include "login_shared/Peticion.h"

#include "login_shared/Mensajes.h"
#include "login_shared/Serializacion.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace login_shared {

namespace {

void compruebaVersion(Lector& l) {
    const std::uint64_t version = l.numero();
    if (version != kVersionProtocolo)
        throw std::runtime_error("versión " + std::to_string(version) +
                                 " del protocolo de login; se esperaba la " +
                                 std::to_string(kVersionProtocolo));
}

} // namespace

std::array<std::pair<const char*, std::string*>, 5> valoresConNombre(Credenciales& c) {
    return {{{"el usuario", &c.usuario},
             {"la contraseña", &c.password.texto()},
             {"la base de datos", &c.baseDatos},
             {"el nombre de la aplicación", &c.aplicacion},
             {"el nombre del equipo", &c.estacion}}};
}

PeticionLogin peticionDeGeneracion(const Proveedor& proveedor) {
    PeticionLogin p;
    p.versionDbLib = proveedor.versionDbLib;
    p.versionTds = proveedor.versionTds;
    p.producto = proveedor.producto;
    p.tlsMinimo = proveedor.tlsMinimo;
    p.tlsMaximo = proveedor.tlsMaximo;
    p.prioridadTls = prioridadTls(proveedor);
    p.suitesTls = suitesTls(proveedor);
    p.cifradoObligatorio = proveedor.cifradoObligatorio;
    p.compruebaCertificado = proveedor.compruebaCertificado;
    return p;
}

std::string serializa(const PeticionLogin& p) {
    Escritor e;
    // All the room at once: growing after the password would free a copy of it unwiped.
    std::size_t textos = 0;
    for (const std::string* t :
         {&p.versionTds, &p.producto, &p.prioridadTls, &p.archivoCa, &p.host, &p.instancia,
          &p.credenciales.usuario, &p.credenciales.password.texto(), &p.credenciales.baseDatos,
          &p.credenciales.aplicacion, &p.credenciales.estacion})
        textos += 8 + t->size();
    e.datos_.reserve(textos + 8 * (p.suitesTls.size() + p.versionesTlsSabidas.size() + 14));
    e.numero(kVersionProtocolo);
    e.numero(std::uint64_t(p.versionDbLib));
    e.texto(p.versionTds);
    e.texto(p.producto);
    e.numero(std::uint64_t(p.tlsMinimo));
    e.numero(std::uint64_t(p.tlsMaximo));
    e.texto(p.prioridadTls);
    e.numero(p.suitesTls.size());
    for (std::uint16_t s : p.suitesTls)
        e.numero(s);
    e.numero(p.cifradoObligatorio);
    e.numero(p.compruebaCertificado);
    e.texto(p.archivoCa);
    e.numero(p.juzgaParaResumen);
    e.numero(p.versionesTlsSabidas.size());
    for (VersionTls v : p.versionesTlsSabidas)
        e.numero(std::uint64_t(v));
    e.texto(p.host);
    e.numero(p.puerto);
    e.texto(p.instancia);
    e.texto(p.credenciales.usuario);
    e.texto(p.credenciales.password.texto());
    e.texto(p.credenciales.baseDatos);
    e.texto(p.credenciales.aplicacion);
    e.texto(p.credenciales.estacion);
    e.numero(p.credenciales.integrada);
    e.numero(p.limite ? std::uint64_t(p.limite->count()) + 1 : 0);
    e.numero(std::uint64_t(p.transcurrido.count()));
    // Moved, not copied: a copy would leave this one, with the password, freed unwiped.
    return std::move(e.datos_);
}

std::string serializa(const TablaResolucion& tabla) {
    Escritor e;
    e.numero(kVersionProtocolo);
    e.numero(tabla.size());
    for (const auto& [nombre, direcciones] : tabla) {
        e.texto(nombre);
        e.textos(direcciones);
    }
    return e.datos_;
}

TablaResolucion deserializaTabla(const std::string& cuerpo) {
    Lector l(cuerpo);
    compruebaVersion(l);
    TablaResolucion tabla;
    for (std::uint64_t n = l.numero(); n > 0; --n) {
        std::string nombre = l.texto();
        tabla.emplace_back(std::move(nombre), l.textos());
    }
    return tabla;
}

PeticionLogin deserializa(const std::string& cuerpo) {
    Lector l(cuerpo);
    compruebaVersion(l);
    PeticionLogin p;
    p.versionDbLib = int(l.numero());
    p.versionTds = l.texto();
    p.producto = l.texto();
    p.tlsMinimo = VersionTls(std::min<std::uint64_t>(l.numero(), std::uint64_t(VersionTls::Tls1_2)));
    p.tlsMaximo = VersionTls(std::min<std::uint64_t>(l.numero(), std::uint64_t(VersionTls::Tls1_2)));
    p.prioridadTls = l.texto();
    for (std::uint64_t n = l.numero(); n > 0; --n)
        p.suitesTls.push_back(std::uint16_t(l.numero()));
    p.cifradoObligatorio = l.numero() != 0;
    p.compruebaCertificado = l.numero() != 0;
    p.archivoCa = l.texto();
    p.juzgaParaResumen = l.numero() != 0;
    for (std::uint64_t n = l.numero(); n > 0; --n)
        p.versionesTlsSabidas.push_back(
            VersionTls(std::min<std::uint64_t>(l.numero(), std::uint64_t(VersionTls::Tls1_2))));
    p.host = l.texto();
    p.puerto = std::uint16_t(l.numero());
    p.instancia = l.texto();
    p.credenciales.usuario = l.texto();
    p.credenciales.password = l.texto();
    p.credenciales.baseDatos = l.texto();
    p.credenciales.aplicacion = l.texto();
    p.credenciales.estacion = l.texto();
    p.credenciales.integrada = l.numero() != 0;
    if (const std::uint64_t limite = l.numero())
        p.limite = std::chrono::milliseconds(limite - 1);
    p.transcurrido = std::chrono::milliseconds(l.numero());
    return p;
}

std::string serializa(const Lanzamiento& lanzamiento) {
    Escritor e;
    e.numero(kVersionProtocolo);
    e.texto(lanzamiento.directorio);
    e.textos(lanzamiento.entorno);
    return e.datos_;
}

Lanzamiento deserializaLanzamiento(const std::string& cuerpo) {
    Lector l(cuerpo);
    compruebaVersion(l);
    Lanzamiento lanzamiento;
    lanzamiento.directorio = l.texto();
    lanzamiento.entorno = l.textos();
    return lanzamiento;
}

} // namespace login_shared
