#pragma once

#include "login_shared/Causa.h"

#include <optional>
#include <string>
#include <vector>

namespace login_process {

// How a current driver (ODBC Driver 18, OLE DB Driver 19, SqlClient 4+: Encrypt=Mandatory,
// TrustServerCertificate=no) judges the certificate chain a server sent.
struct JuicioCertificado {
    std::optional<login_shared::Causa> causa; // none: such a driver accepts it
    std::string motivo; // Spanish: what is wrong and what the DBA can do; empty when accepted
};

// `cadenaDer`: the server's chain as sent (leaf first); `host`: the server name as the DBA typed it
// (not the address it resolved to; an IP literal is matched against the certificate's IP addresses);
// `archivoCa`: a PEM file of extra trusted CAs (an enterprise CA), empty for none. The system's store
// (Debian's /etc/ssl/certs, gnutls_x509_trust_list_add_system_trust) is always trusted.
// An `archivoCa` that holds no readable CA gets Causa::Valor: nothing can be judged against it.
// Reads the system's store for every judgement this process and those it forks will make.
void preparaConfianzaDelSistema();

JuicioCertificado juzgaCertificado(const std::vector<std::string>& cadenaDer, const std::string& host,
                                   const std::string& archivoCa);

} // namespace login_process
