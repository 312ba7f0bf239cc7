#pragma once

#include "login_shared/Textos.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Every description only the login process gives: the name, the network, TLS,
// Kerberos, db-lib and the server's reply. "destino" is "host, puerto N" or
// "host\instancia".
namespace login_process::textos {

// What both processes say is said through here too.
using namespace login_shared::textos;

std::string hostNoEncontrado(const std::string& host);
std::string resolucionAgotada(const std::string& host, const login_shared::Plazo& plazo);
std::string conexionRechazada(const std::string& destino);
// The deadline passed while the login was at `etapa`: names the real time
// the open took, the limit and what was being waited for.
std::string tiempoAgotadoEn(login_shared::Etapa etapa, const std::string& destino,
                            const login_shared::Plazo& plazo, bool integrada);
// No address of the server took the TCP connection (errno of each attempt).
std::string conexionTcpFallida(const std::string& destino, const std::vector<int>& errores);
// The server closed (FIN) or reset (RST) the connection while the login was at `etapa`.
std::string conexionCerrada(const std::string& destino, login_shared::Etapa etapa);
std::string conexionReiniciada(const std::string& destino, login_shared::Etapa etapa);
std::string errorRed(const std::string& destino, int errorSistema);
std::string respuestaNoTds(const std::string& destino);
// What answers at the port is another service: one that opened with
// `primeraLinea` (shown through visible()), or one that speaks TLS from the
// first byte.
std::string servicioNoSqlServer(const std::string& destino, const std::string& primeraLinea);
std::string servicioSoloTls(const std::string& destino);
// A server with strict encryption (TDS 8.0) at `direccion`: it closed on the
// PRELOGIN in clear and answered TDS inside TLS. `sinVersionComun`: it
// answered in TLS, but turned down every version from TLS 1.0 to 1.2.
std::string cifradoEstricto(const std::string& destino, const std::string& direccion);
std::string cifradoEstrictoSinVersionComun(const std::string& destino, const std::string& direccion);
// The server agreed a TLS version or suite that `producto`'s client did not
// offer: this machine's TLS did not keep to the generation's.
std::string tlsAjenoASuEpoca(const std::string& destino, const std::string& producto,
                             std::uint16_t versionTls, std::uint16_t suite);
// `producto`'s client checked the server's certificate and refused it (`motivo`), so it sent no login.
std::string certificadoRechazado(const std::string& destino, const std::string& producto,
                                 const std::string& motivo);
std::string inicioSesionFallido(const std::string& destino, bool integrada);
std::string inicioSesionRechazado(const std::string& destino);
// A reply that accepted the login (LOGINACK) and refused it too: with errors
// (the server's messages follow), or with its final DONE marked as an error.
std::string aperturaConErrores(const std::string& destino);
std::string aperturaTerminadaEnError(const std::string& destino);
// db-lib took the login as accepted, but this process could not read the
// server's reply to the end: `motivo` says what it met ("un token 0x12 que no
// se sabe medir"); empty when the reply did not come whole.
std::string respuestaNoComprobada(const std::string& destino, const std::string& motivo);
// db-lib took the login as accepted, but the reply holds no LOGINACK.
std::string respuestaSinLoginAck(const std::string& destino);
// The LOGINACK named `version` (as sent, 0x08000000), which no SQL Server sends.
std::string versionTdsDesconocida(const std::string& destino, const std::string& producto,
                                  std::uint32_t version);
// The server answered the login with bytes that are no TDS reply: `motivo` says what they held.
std::string respuestaLoginNoTds(const std::string& destino, const std::string& motivo);
// The deadline passed while the server was still sending its reply to the login.
std::string respuestaSinTerminar(const std::string& destino, const login_shared::Plazo& plazo);
// The LOGINACK agreed TDS `acordada`, above the `pedida` that `producto`'s client asked for.
std::string versionTdsSuperior(const std::string& destino, const std::string& producto,
                               const std::string& pedida, const std::string& acordada);
std::string errorCliente(const std::string& destino, int numero);

std::string browserCerrado(const std::string& host);
std::string browserSinRespuesta(const std::string& host, const login_shared::Plazo& plazo);
std::string instanciaNoEncontrada(const std::string& instancia, const std::string& host,
                                  const std::vector<std::string>& existentes);

std::string sinTicketKerberos(const std::string& motivo);
// Why the service ticket for the server could not be had; `servicio` is the
// SPN with its realm, `cliente` the principal of the ticket in the cache.
std::string kerberosTicketCaducado(const std::string& cliente);
std::string kerberosKdcInalcanzable(const std::string& dominio);
std::string kerberosDominioDesconocido(const std::string& dominio, const std::string& cliente);
std::string kerberosOtroDominio(const std::string& cliente, const std::string& servicio);
std::string kerberosSpnDesconocido(const std::string& servicio);
std::string kerberosFallo(const std::string& servicio, const std::string& detalle);

// db-lib takes 128 bytes per value, whatever the characters: a value of 128
// characters at most may still be too long for it in UTF-8.
std::string valorDemasiadoLargoParaDbLib(const std::string& campo, std::size_t bytes, std::size_t maximo);
std::string instanciaSinTcp(const std::string& instancia, const std::string& host);
std::string browserRespuestaNoValida(const std::string& host);

// db-lib's own errors, by number, in Spanish (its texts are English).
std::string errorDbLib(int numero);

// The server turned the TLS handshake down (its alert, or -1 when it just
// closed); `producto` offers TLS from `minimo` to `maximo` with `suites`,
// of which this machine's GnuTLS could not offer `ausentes`.
std::string tlsRechazado(const std::string& destino, const std::string& producto,
                         login_shared::VersionTls minimo, login_shared::VersionTls maximo,
                         const std::vector<std::uint16_t>& suites, const std::vector<std::uint16_t>& ausentes,
                         int alerta);

// The server's certificate as a current driver (ODBC Driver 18, OLE DB Driver 19, SqlClient 4 and
// later) checks it. `quien` is empty for the server's own certificate, or the subject (RFC 4514) of
// the CA certificate of its chain the sentence is about; dates are YYYY-MM-DD, UTC.
std::string certificadoIlegible();
// Its own issuer: `sujeto` names it; SQL Server's "CN=SSL_Self_Signed_Fallback" is said to be so.
std::string certificadoAutofirmado(const std::string& sujeto);
// `emisor` is the issuer no trusted CA vouches for.
std::string certificadoCaDesconocida(const std::string& emisor);
// A chain that reaches no trusted CA for another reason (`detalle`: "una firma no es válida").
std::string certificadoCadenaNoValida(const std::string& emisor, const std::string& detalle);
// `host` as typed; `nombres` its DNS and IP subjectAltNames, or its CN when it has none.
std::string certificadoNombre(const std::string& host, const std::vector<std::string>& nombres);
std::string certificadoCaducado(const std::string& quien, const std::string& fecha);
std::string certificadoNoVigenteAun(const std::string& quien, const std::string& fecha);
// `defectos`: "está firmado con SHA-1", "tiene una clave RSA de 1024 bits".
std::string certificadoDebil(const std::string& quien, const std::vector<std::string>& defectos);
// The file of extra CAs (tarpelino-lote's --ca) holds none that can be read.
std::string archivoCaIlegible(const std::string& archivo);

std::string aliasConCompruebaNombre(const std::string& alias, const std::string& archivo);
std::string cifradoAliasNoValido(const std::string& alias, const std::string& archivo,
                                 const std::string& valor);
std::string valorConfiguracionNoValido(const std::string& opcion, const std::string& valor);
std::string errorInterno(const std::string& detalle);

// "Msg 18456, nivel 14, estado 1: Login failed for user 'sa'.", one line
// whatever the text holds: its line breaks show as their code point (U+000A).
std::string mensajeServidor(int numero, int clase, int estado, const std::string& texto);
// After the first messages of a server that sent too many: "y 3 mensajes más."
std::string mensajesOmitidos(std::size_t n);

// What went on this machine rather than on the server: each says so, names
// "este equipo" and which part of it, and never blames the server.
// The open's working directory could not be entered: the login went on from "/".
std::string sinCarpetaDeTrabajo(const std::string& directorio, int errorSistema);
// The server answered each request in time (in `respuestaMaxima` at most; none
// when it was only the TCP connection), while this machine read or sent late.
std::string esteEquipoSeRetraso(login_shared::Etapa etapa, const std::string& destino,
                                const login_shared::Plazo& plazo,
                                std::optional<std::chrono::milliseconds> respuestaMaxima);

} // namespace login_process::textos
