#pragma once

#include <string>
#include <vector>

namespace data_access {

// The freetds.conf files FreeTDS itself reads, in its order.
std::vector<std::string> archivosConfiguracionFreeTds();

// True when `nombre` names a server section ([nombre]) in one of `archivos`.
bool esAliasFreeTds(const std::string& nombre, const std::vector<std::string>& archivos);

} // namespace data_access
