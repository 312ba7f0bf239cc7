#pragma once

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

} // namespace data_access
