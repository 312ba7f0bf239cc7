#include "ResolucionNombres.h"

#include "Conexion.h"
#include "TextosError.h"

#include <cstring>
#include <netdb.h>

namespace data_access {

namespace {

// Lives on the heap: a lookup that outlasts the timeout still points at it.
struct Consulta {
    std::string host;
    addrinfo pista{};
    gaicb peticion{};
};

} // namespace

std::vector<DireccionIp> resuelveHost(const std::string& host, const Plazo& plazo) {
    auto* consulta = new Consulta;
    consulta->host = host;
    consulta->pista.ai_family = AF_UNSPEC;
    consulta->pista.ai_socktype = SOCK_STREAM;
    consulta->peticion.ar_name = consulta->host.c_str();
    consulta->peticion.ar_request = &consulta->pista;
    gaicb* lista[] = {&consulta->peticion};
    // getaddrinfo_a so that a resolver that never answers cannot outlast the timeout.
    if (getaddrinfo_a(GAI_NOWAIT, lista, 1, nullptr) != 0) {
        delete consulta;
        throw ErrorConexion(textos::hostNoEncontrado(host));
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
        throw ErrorConexion(textos::resolucionAgotada(host, plazo.limite()));
    }
    addrinfo* resultado = consulta->peticion.ar_result;
    delete consulta;
    if (estado != 0)
        throw ErrorConexion(textos::hostNoEncontrado(host));

    std::vector<DireccionIp> direcciones;
    for (addrinfo* a = resultado; a; a = a->ai_next) {
        DireccionIp d;
        std::memcpy(&d.direccion, a->ai_addr, a->ai_addrlen);
        d.longitud = a->ai_addrlen;
        direcciones.push_back(d);
    }
    freeaddrinfo(resultado);
    if (direcciones.empty())
        throw ErrorConexion(textos::hostNoEncontrado(host));
    return direcciones;
}

} // namespace data_access
