#include "login_process/ExtremoDbLib.h"

#include <netinet/in.h>
#include <utility>

namespace login_process {

namespace {

// Per thread: only the thread inside dbopen hands its end over.
thread_local EntregaExtremoDbLib* tEntrega = nullptr;

} // namespace

EntregaExtremoDbLib::EntregaExtremoDbLib(std::uint16_t puerto, Descriptor extremo)
    : puerto_(puerto), extremo_(std::move(extremo)), anterior_(std::exchange(tEntrega, this)) {}

EntregaExtremoDbLib::~EntregaExtremoDbLib() {
    tEntrega = anterior_;
}

int tomaExtremoDbLib(const sockaddr* destino, socklen_t longitud) noexcept {
    EntregaExtremoDbLib* e = tEntrega;
    if (!e || !destino || longitud < socklen_t(sizeof(sockaddr_in)) || destino->sa_family != AF_INET)
        return -1;
    const auto& d = *reinterpret_cast<const sockaddr_in*>(destino);
    if (d.sin_addr.s_addr != htonl(INADDR_LOOPBACK) || ntohs(d.sin_port) != e->puerto_)
        return -1;
    return e->extremo_.suelta();
}

} // namespace login_process
