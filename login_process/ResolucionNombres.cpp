#include "login_process/ResolucionNombres.h"

#include "login_process/Textos.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Peticion.h"
#include "login_shared/TextoAscii.h"

#include <arpa/inet.h>
#include <thread>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <optional>

namespace login_process {

using login_shared::Causa;
using login_shared::ErrorConexion;
using login_shared::igualSinMayusculas;
using login_shared::Plazo;
using login_shared::TablaResolucion;

namespace {

// Lives on the heap: a lookup that outlasts the timeout still points at it.
struct Consulta {
    std::string host;
    addrinfo pista{};
    gaicb peticion{};
};

// An IPv4 or IPv6 literal as an address; nothing for a name (or a form only the resolver reads).
std::optional<DireccionIp> direccionLiteral(const std::string& literal) {
    DireccionIp d;
    auto& v4 = reinterpret_cast<sockaddr_in&>(d.direccion);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(d.direccion);
    if (::inet_pton(AF_INET, literal.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        d.longitud = sizeof v4;
    } else if (::inet_pton(AF_INET6, literal.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        d.longitud = sizeof v6;
    } else {
        return std::nullopt;
    }
    return d;
}

} // namespace

HostResuelto resuelveHost(const std::string& host, const Plazo& plazo) {
    // The resolver would answer a literal with itself, after starting a thread to do it.
    if (auto literal = direccionLiteral(host))
        return {{*literal}, host};
    auto* consulta = new Consulta;
    consulta->host = host;
    consulta->pista.ai_family = AF_UNSPEC;
    consulta->pista.ai_socktype = SOCK_STREAM;
    // FreeTDS names the Kerberos service after the canonical name.
    consulta->pista.ai_flags = AI_CANONNAME;
    consulta->peticion.ar_name = consulta->host.c_str();
    consulta->peticion.ar_request = &consulta->pista;
    gaicb* lista[] = {&consulta->peticion};
    // getaddrinfo_a so that a resolver that never answers cannot outlast the timeout.
    if (const int error = getaddrinfo_a(GAI_NOWAIT, lista, 1, nullptr); error != 0) {
        const int sistema = errno;
        delete consulta;
        // Its thread refused by the system: that limit, not the name, is the fault.
        const int causa = error == EAI_AGAIN ? EAGAIN : error == EAI_MEMORY ? ENOMEM : sistema;
        if (auto limite = textos::limiteDelSistema(causa); limite && error != EAI_NONAME)
            throw ErrorConexion(*limite, Causa::Sistema);
        throw ErrorConexion(textos::hostNoEncontrado(host), Causa::Nombre);
    }
    int estado = EAI_INPROGRESS;
    while ((estado = gai_error(&consulta->peticion)) == EAI_INPROGRESS) {
        timespec espera{};
        if (!plazo.ilimitado()) {
            const auto ms = plazo.restante().count();
            if (ms == 0)
                break;
            espera.tv_sec = ms / 1000;
            espera.tv_nsec = (ms % 1000) * 1000000;
        }
        const gaicb* const esperadas[] = {&consulta->peticion};
        gai_suspend(esperadas, 1, plazo.ilimitado() ? nullptr : &espera);
    }
    if (estado == EAI_INPROGRESS) {
        // A lookup the resolver will not give up is left to it, with its memory.
        if (gai_cancel(&consulta->peticion) == EAI_CANCELED)
            delete consulta;
        throw ErrorConexion(textos::resolucionAgotada(host, plazo), Causa::Tiempo);
    }
    addrinfo* resultado = consulta->peticion.ar_result;
    delete consulta;
    if (estado != 0)
        throw ErrorConexion(textos::hostNoEncontrado(host), Causa::Nombre);

    HostResuelto resuelto;
    resuelto.nombreCanonico = resultado && resultado->ai_canonname ? resultado->ai_canonname : host;
    for (addrinfo* a = resultado; a; a = a->ai_next) {
        DireccionIp d;
        std::memcpy(&d.direccion, a->ai_addr, a->ai_addrlen);
        d.longitud = a->ai_addrlen;
        resuelto.direcciones.push_back(d);
    }
    freeaddrinfo(resultado);
    if (resuelto.direcciones.empty())
        throw ErrorConexion(textos::hostNoEncontrado(host), Causa::Nombre);
    return resuelto;
}

HostResuelto resuelveConTabla(const std::string& host, const TablaResolucion& tabla, const Plazo& plazo) {
    for (const auto& [nombre, literales] : tabla) {
        if (!igualSinMayusculas(nombre, host))
            continue;
        if (literales.empty()) {
            if (plazo.ilimitado())
                throw ErrorConexion(textos::hostNoEncontrado(host), Causa::Nombre);
            std::this_thread::sleep_for(plazo.restante());
            throw ErrorConexion(textos::resolucionAgotada(host, plazo), Causa::Tiempo);
        }
        HostResuelto resuelto{{}, host};
        for (const std::string& literal : literales)
            if (auto d = direccionLiteral(literal))
                resuelto.direcciones.push_back(*d);
        return resuelto;
    }
    return resuelveHost(host, plazo);
}

std::string textoDireccion(const DireccionIp& d) {
    char texto[INET6_ADDRSTRLEN] = {};
    if (d.direccion.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(d.direccion).sin_addr, texto,
                    sizeof texto);
    else
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(d.direccion).sin6_addr, texto,
                    sizeof texto);
    return texto;
}

} // namespace login_process
