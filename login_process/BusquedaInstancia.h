#pragma once

#include "login_process/ResolucionNombres.h"
#include "login_shared/Plazo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace login_process {

using login_shared::Plazo;

// The TCP port of a named instance, asked of the SQL Server Browser
// (MC-SQLR) on UDP 1434 of each address. Unlike FreeTDS's own lookup it
// keeps to the time left and gives up at once when the port is closed.
std::uint16_t buscaPuertoInstancia(const std::vector<DireccionIp>& direcciones, const std::string& host,
                                   const std::string& instancia, const Plazo& plazo);

// One SVR_RESP payload (after the 3-byte header): the instances it lists,
// and the TCP port of `instancia` when it is among them. A payload that
// lists no instance is not a browser's answer.
struct RespuestaBrowser {
    std::vector<std::string> instancias;
    std::optional<std::uint16_t> puerto;
    bool instanciaSinTcp = false; // listed, but with no TCP endpoint (named pipes only)
};
RespuestaBrowser leeRespuestaBrowser(std::string_view datos, const std::string& instancia);

} // namespace login_process
