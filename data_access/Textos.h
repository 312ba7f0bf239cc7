#pragma once

#include "login_shared/Textos.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Every description only the application gives: the connection string, the
// connection object's state, its login process, and what an open learned.
namespace data_access::textos {

// What both processes say is said through here too.
using namespace login_shared::textos;

// The connection string and the connection object's own state.
std::string cadenaClaveSinIgual(const std::string& clave);
std::string cadenaValorSinClave();
std::string cadenaComillasSinCerrar();
std::string cadenaTextoTrasComillas();
std::string cadenaSinServidor();
std::string tiempoEsperaNoValido(const std::string& valor);
std::string cadenaConConexionAbierta();
std::string conexionNoAbierta();
std::string conexionYaAbierta();

// A login value that cannot be sent; `campo` is "la contraseña", "el usuario", ...
std::string valorNoValido(const std::string& campo, const std::string& motivo);
std::string valorDemasiadoLargo(const std::string& campo, std::size_t caracteres, std::size_t maximo);

std::string procesoLoginNoSeLanza(const std::string& ruta, int errorSistema);
std::string procesoLoginNoInstalado();
std::string procesoLoginTerminado(int senal);
std::string respuestaProcesoLoginIlegible();

// What an open learned, for the result label's tooltip; and where a failed
// one stopped and after how long.
std::string resumenApertura(const login_shared::ResumenLogin& resumen, std::chrono::milliseconds duracion);
std::string resumenFallo(login_shared::Etapa etapa, std::chrono::milliseconds duracion);

// What went on this machine rather than on the server: each says so, names
// "este equipo" and which part of it, and never blames the server.
// No login process could be had within the deadline: the login server did not answer.
std::string sinProcesoLoginATiempo(const std::string& destino, const login_shared::Plazo& plazo);
// The login process did not give its result by the deadline and was killed;
// `etapa`: the last stage it reported.
std::string procesoLoginSinRespuesta(login_shared::Etapa etapa, const std::string& destino,
                                     const login_shared::Plazo& plazo);

} // namespace data_access::textos
