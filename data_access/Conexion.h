#pragma once

#include "login_shared/Causa.h"
#include "login_shared/ErrorConexion.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace data_access {

using login_shared::Causa;
using login_shared::Etapa;
using login_shared::ResumenLogin;

// What the last open learned, as values: for programs that list them
// rather than show the summary's lines.
struct DatosApertura {
    bool abierta = false;
    ResumenLogin resumen;             // empty unless it opened
    Etapa etapa = Etapa::Preparacion; // where a failed open stopped
    std::optional<Causa> causa;       // what stopped a failed open; none when it opened
    std::string versionServidor;      // from the server's PRELOGIN reply ("16.0.4135"); empty: none came
    std::chrono::milliseconds duracion{0};
    std::optional<std::int32_t> errorServidor; // the server's first error of class 11 or more
    bool pruebaEnviada = false;                // a proof of the password (NTLM) reached the server
};

// A database connection object: it takes a connection string, opens a login to
// the server it names through the provider it names, and closes it again.
class Conexion {
public:
    virtual ~Conexion() = default;

    virtual void setConnectionString(const std::string& connectionString) = 0;
    // Returns the string exactly as it was set.
    virtual std::string connectionString() const = 0;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // What the last open learned (agreed version, server, address, encryption,
    // time) or, when it failed, where and after how long; lines of Spanish
    // text, empty when the object has nothing to tell.
    virtual std::string resumenApertura() const { return {}; }
    // The same as values; none before the first open.
    virtual std::optional<DatosApertura> datosApertura() const { return std::nullopt; }
};

// A new, closed connection object backed by FreeTDS.
std::unique_ptr<Conexion> nuevaConexion();

} // namespace data_access
