#pragma once

#include "login_shared/Causa.h"
#include "login_shared/Etapa.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace login_shared {

// Every failure of a connection object is raised as this error; what() is the
// description shown to the user (Spanish, UTF-8), causa() what stopped it as
// a code a program can act on. Most are values refused before anything is sent.
class ErrorConexion : public std::runtime_error {
public:
    explicit ErrorConexion(const std::string& descripcion, Causa causa = Causa::Valor)
        : std::runtime_error(descripcion), causa_(causa) {}
    Causa causa() const { return causa_; }

private:
    Causa causa_;
};

// A failed login, with the stage it had reached, the version the server
// gave in its PRELOGIN reply (empty: none came) and, when the description
// states how long the open took, that time: the one the open reports.
class ErrorApertura : public ErrorConexion {
public:
    ErrorApertura(const std::string& descripcion, Etapa etapa, Causa causa, std::string versionServidor = {},
                  std::optional<std::chrono::milliseconds> transcurrido = std::nullopt)
        : ErrorConexion(descripcion, causa), etapa_(etapa), versionServidor_(std::move(versionServidor)),
          transcurrido_(transcurrido) {}
    Etapa etapa() const { return etapa_; }
    const std::string& versionServidor() const { return versionServidor_; }
    std::optional<std::chrono::milliseconds> transcurrido() const { return transcurrido_; }

    // The number of the server's first error of class 11 or more; none when it sent none.
    std::optional<std::int32_t> errorServidor() const { return errorServidor_; }
    // A proof of the password (NTLM's AUTHENTICATE) reached the server: a domain
    // controller may have counted it against the account.
    bool pruebaEnviada() const { return pruebaEnviada_; }
    void anotaRespuesta(std::optional<std::int32_t> errorServidor, bool pruebaEnviada) {
        errorServidor_ = errorServidor;
        pruebaEnviada_ = pruebaEnviada;
    }

private:
    Etapa etapa_;
    std::string versionServidor_;
    std::optional<std::chrono::milliseconds> transcurrido_;
    std::optional<std::int32_t> errorServidor_;
    bool pruebaEnviada_ = false;
};

} // namespace login_shared
