#pragma once

#include "data_access/Conexion.h"
#include "login_shared/Secreto.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// One pass of the test as the window runs it, without the window: the part a
// program without a display shares with it, so both give the same verdict and
// the same description for the same input.
namespace probe {

// The verdicts, as the result labels show them.
inline constexpr char kConexionCorrecta[] = "Conexión CORRECTA.";
inline constexpr char kConexionIncorrecta[] = "Conexión INCORRECTA.";
// What a probe of an empty server says instead of trying.
inline constexpr char kIndiqueServidor[] = "Imposible conectar con Servidor SQL Server: Indique Servidor.";
// What a pass says when the factory gave it no connection object.
inline constexpr char kObjetoConexionNoCreado[] = "No se pudo crear el objeto de conexión.";
// The description of a failure that carried none.
inline constexpr char kErrorDesconocido[] = "Error desconocido al conectar.";
// The database a test logs into when none is given.
inline constexpr char kBaseDatosPorDefecto[] = "MASTER";

// Sets the connection string, reads it back and sets it again with the
// credentials appended: the order the probe keeps. No network I/O.
void preparaCadena(data_access::Conexion& conexion, const std::string& proveedor, const std::string& servidor,
                   const std::string& baseDatos, const std::string& usuario,
                   const login_shared::Secreto& password);

struct ResultadoPasada {
    bool correcta = false;
    std::string descripcion;                         // the failure's; empty when it connected and closed
    std::optional<data_access::DatosApertura> datos; // what the open learned, when it got that far
    std::string resumen;                             // the same as the object's lines of text
    // False for a pass a batch run did not make, knowing its outcome already.
    bool intentada = true;
};

using FabricaConexion = std::function<std::unique_ptr<data_access::Conexion>()>;

// One pass: prepared, opened and, when it opened, closed again. An empty
// server is not tried. The object is the one `conexion` holds, else a new
// one from `fabrica`; it is released at the end, unless its close failed:
// then it stays in `conexion` (the window's next pass takes it up again).
ResultadoPasada ejecutaPasada(std::unique_ptr<data_access::Conexion>& conexion,
                              const FabricaConexion& fabrica, const std::string& proveedor,
                              const std::string& servidor, const std::string& baseDatos,
                              const std::string& usuario, const login_shared::Secreto& password);

// The same on a connection object of its own.
ResultadoPasada ejecutaPasada(const FabricaConexion& fabrica, const std::string& proveedor,
                              const std::string& servidor, const std::string& baseDatos,
                              const std::string& usuario, const login_shared::Secreto& password);

} // namespace probe
