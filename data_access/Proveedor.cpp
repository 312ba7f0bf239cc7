#include "Proveedor.h"

#include "Conexion.h"
#include "TextoAscii.h"

#include <array>
#include <sybdb.h>

namespace data_access {

namespace {

constexpr std::array<Proveedor, 2> kProveedores{{
    {"SQLNCLI", "SQL Server 2005", DBVERSION_72, "7.2"},
    {"SQLNCLI10", "SQL Server 2008", DBVERSION_73, "7.3"},
}};

} // namespace

const Proveedor& buscaProveedor(const std::string& nombre) {
    for (const Proveedor& p : kProveedores) {
        // Versioned ProgIDs ("SQLNCLI10.1") name the same provider.
        const std::string base(p.nombre);
        if (igualSinMayusculas(nombre, base) || igualSinMayusculas(nombre, base + ".1"))
            return p;
    }
    std::string disponibles;
    for (const Proveedor& p : kProveedores)
        disponibles += std::string(disponibles.empty() ? "" : ", ") + p.nombre + " (" + p.producto + ")";
    if (nombre.empty())
        throw ErrorConexion("La cadena de conexión no indica el proveedor (Provider=). Proveedores disponibles: " +
                            disponibles + ".");
    throw ErrorConexion("El proveedor «" + nombre + "» no está disponible. Proveedores disponibles: " +
                        disponibles + ".");
}

} // namespace data_access
