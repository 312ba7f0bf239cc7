#pragma once

#include "login_shared/Plazo.h"
#include "login_shared/Proveedor.h"
#include "login_shared/Resumen.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// What both processes say, and the phrases their descriptions share. Spanish,
// like the window that shows them; "destino" is "host, puerto N" or
// "host\instancia". Each side's own descriptions live with it:
// data_access/Textos.h and login_process/Textos.h.
namespace login_shared::textos {

std::string segundos(std::chrono::milliseconds duracion);

std::string proveedorNoDisponible(const std::string& nombre, const std::string& disponibles);

// The server name as typed.
std::string servidorVacio();
std::string puertoNoValido(const std::string& puerto, const std::string& servidor);
std::string soloTcp(const std::string& servidor, const std::string& protocolo);
std::string instanciaVacia(const std::string& servidor);
std::string nombreServidorNoValido(const std::string& servidor);

std::string nombreServidorDemasiadoLargo(std::size_t caracteres, std::size_t maximo);

// The system refused a process, a thread or a descriptor (EAGAIN, EMFILE,
// ENFILE, ENOMEM): which limit, with its value. Nothing for other errors.
std::optional<std::string> limiteDelSistema(int errorSistema);

// The version of a server's PRELOGIN reply with the product it belongs to:
// "SQL Server 2022 (16.0.4135)"; a version of no known product as it is.
std::string versionServidor(const std::string& version);

// The TDS version of a LOGINACK as the summary shows it: "7.4", or
// "desconocida (0x…)" for a value no SQL Server sends.
std::string versionTds(std::uint32_t version);

// "Tiempo de espera agotado tras 15,0 s (límite 15 s)", the time cut to tenths.
std::string agotadoTras(const Plazo& plazo);
// Past the deadline, the sentence that says this machine ran the login late; empty otherwise.
std::string excesoDelLimite(const Plazo& plazo);
// What the login was waiting for at `etapa`, for a description that does not blame the server.
std::string enEtapa(Etapa etapa, const std::string& destino);
// "TLS 1.2" for a version as the wire carries it; "TLS" for one unknown.
std::string nombreVersionTls(std::uint16_t version);

} // namespace login_shared::textos
