#pragma once

#include <string>

namespace data_access {

// A client generation: which TDS version it logs in with.
struct Proveedor {
    const char* nombre;
    const char* producto;
    int versionDbLib; // DBVERSION_7x
    const char* versionTds;
};

// Throws ErrorConexion when the name is not one this component serves.
const Proveedor& buscaProveedor(const std::string& nombre);

} // namespace data_access
