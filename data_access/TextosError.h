#pragma once

#include "PeticionLogin.h"
#include "Plazo.h"

#include <chrono>
#include <string>
#include <vector>

// Every description the component raises, in one place. Spanish, like the
// window that shows them; "destino" is "host, puerto N" or "host\instancia".
namespace data_access::textos {

std::string segundos(std::chrono::milliseconds duracion);

std::string hostNoEncontrado(const std::string& host);
std::string resolucionAgotada(const std::string& host, const Plazo& plazo);
std::string conexionRechazada(const std::string& destino);
// The deadline passed while the login was at `etapa`: names the real time
// the open took, the limit and what was being waited for.
std::string tiempoAgotadoEn(Etapa etapa, const std::string& destino, const Plazo& plazo, bool integrada);
// No address of the server took the TCP connection (errno of each attempt).
std::string conexionTcpFallida(const std::string& destino, const std::vector<int>& errores);
std::string conexionCerrada(const std::string& destino);
std::string errorRed(const std::string& destino, int errorSistema);
std::string respuestaNoTds(const std::string& destino);
std::string inicioSesionFallido(const std::string& destino, bool integrada);
std::string inicioSesionRechazado(const std::string& destino);
std::string errorCliente(const std::string& destino, int numero, const std::string& texto);

std::string browserCerrado(const std::string& host);
std::string browserSinRespuesta(const std::string& host, const Plazo& plazo);
std::string instanciaNoEncontrada(const std::string& instancia, const std::string& host,
                                  const std::vector<std::string>& existentes);

std::string sinTicketKerberos(const std::string& motivo);

std::string cifradoAliasNoValido(const std::string& alias, const std::string& archivo, const std::string& valor);
std::string valorConfiguracionNoValido(const std::string& opcion, const std::string& valor);
std::string procesoLoginNoArranca(const std::string& ruta, int errorSistema);
std::string procesoLoginTerminado(int senal);
std::string errorInterno(const std::string& detalle);

// "Msg 18456, nivel 14, estado 1: Login failed for user 'sa'."
std::string mensajeServidor(int numero, int clase, int estado, const std::string& texto);

} // namespace data_access::textos
