#pragma once

#include "data_access/PeticionLogin.h"

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace data_access {

// Every failure of a connection object is raised as this error; what() is the
// description shown to the user (Spanish, UTF-8).
class ErrorConexion : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failed login, with the stage it had reached.
class ErrorApertura : public ErrorConexion {
public:
    ErrorApertura(const std::string& descripcion, int etapa) : ErrorConexion(descripcion), etapa_(etapa) {}
    int etapa() const { return etapa_; }

private:
    int etapa_;
};

// What the last open learned, as values: for programs that list them
// rather than show the summary's lines.
struct DatosApertura {
    bool abierta = false;
    ResumenLogin resumen;             // empty unless it opened
    Etapa etapa = Etapa::Preparacion; // where a failed open stopped
    std::chrono::milliseconds duracion{0};
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
