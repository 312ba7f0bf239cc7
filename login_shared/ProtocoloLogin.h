#pragma once

#include "login_shared/Causa.h"
#include "login_shared/Proveedor.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace login_shared {

// Overwrites a secret's whole buffer before letting it go: a freed block
// keeps its bytes until reused, and a core file or a read of the memory
// would show them.
void borraSecreto(std::string& secreto) noexcept;

// What LOGIN7 carries of the user's: sent exactly, or refused before anything is sent.
// Every copy wipes its password when it goes.
struct Credenciales {
    std::string usuario;
    std::string password;
    std::string baseDatos;
    std::string aplicacion;
    std::string estacion;
    bool integrada = false;

    Credenciales() = default;
    Credenciales(const Credenciales&) = default;
    Credenciales& operator=(const Credenciales&) = default;
    Credenciales(Credenciales&& otras) noexcept : Credenciales(otras) { borraSecreto(otras.password); }
    Credenciales& operator=(Credenciales&& otras) noexcept {
        if (this != &otras) {
            borraSecreto(password);
            *this = otras;
            borraSecreto(otras.password);
        }
        return *this;
    }
    ~Credenciales() { borraSecreto(password); }
};

// The values above with the name a description gives each ("la contraseña"),
// for the checks that go through all of them.
std::array<std::pair<const char*, std::string*>, 5> valoresConNombre(Credenciales& c);

// Everything the login process needs for one open, already validated by the
// connection object. It travels over a socket, never through argv or the
// environment, so the password is seen by no other process.
struct PeticionLogin {
    int versionDbLib = 0;   // DBVERSION_7x
    std::string versionTds; // "7.2", as freetds.conf writes it
    std::string producto;   // "SQL Server 2005": the generation, for messages
    VersionTls tlsMinimo = VersionTls::Tls1_0;
    VersionTls tlsMaximo = VersionTls::Tls1_2;
    // The generation's GnuTLS priority string, and the suites it must offer with it.
    std::string prioridadTls;
    std::vector<std::uint16_t> suitesTls;
    std::string host;         // as typed, without brackets
    std::uint16_t puerto = 0; // 0: not given
    std::string instancia;
    Credenciales credenciales;
    // The budget of the whole open and what the caller already spent of it.
    std::optional<std::chrono::milliseconds> limite;
    std::chrono::milliseconds transcurrido{0};
};

// Names answered without asking the system's resolver (name -> IP literals),
// for tests: a name listed with no address stands for a resolver that never
// answers. Sent apart from the request, and only when a test sets one.
using TablaResolucion = std::vector<std::pair<std::string, std::vector<std::string>>>;

// What a login that went through learned, without asking the server anything
// beyond the login itself.
struct ResumenLogin {
    std::string versionTds; // agreed with the server: "7.3"
    std::string servidor;   // the server's own name, as its login messages carry it
    std::string direccion;  // the address that took the connection
    std::uint16_t puerto = 0;
    bool loginCifrado = false;    // LOGIN7 went inside TLS
    bool sesionCifrada = false;   // and so did everything after it
    std::uint16_t versionTls = 0; // 0x0303 = TLS 1.2; 0: unknown or none
    std::uint16_t suiteTls = 0;   // as the ServerHello chose it; 0: unknown or none
    // The server's certificate as it sent it; an empty subject: none seen.
    std::string certificadoSujeto;
    std::string certificadoEmisor;
    std::int64_t certificadoCaduca = 0; // seconds since 1970, UTC
    std::string certificadoClave;       // "RSA"
    unsigned certificadoBits = 0;
    std::string versionServidor; // from its PRELOGIN reply: "16.0.4135"
};

// Why a login failed, as the login process tells it: the description, what
// stopped it, and the server's version when its PRELOGIN reply came.
struct FalloLogin {
    Causa causa = Causa::Interno;
    std::string descripcion;
    std::string versionServidor;
    // Of the open's budget, when the failure was told: the time its description states.
    std::optional<std::chrono::milliseconds> transcurrido;
};

// Where a login stands; the last one reported is what a timeout names.
enum class Etapa : std::uint8_t {
    Preparacion,
    NombreHost,
    Browser,
    ConexionTcp,
    Prelogin,
    Tls,
    PreparacionLogin, // between the server's PRELOGIN reply and LOGIN7: Kerberos asks its KDC here
    RespuestaLogin,
};

// Messages between the connection object and its login process, framed as
// a 4-byte length, a 1-byte kind and the body.
namespace mensaje {
constexpr char kPeticion = 'P'; // parent -> login process: a PeticionLogin
constexpr char kResolucionFija =
    'R';                      // parent -> login process, before kPeticion, from tests only: a TablaResolucion
constexpr char kCierra = 'C'; // parent -> login process: close the open login and exit
constexpr char kEtapa = 'E';  // login process -> parent: one Etapa byte, then the destination so far
constexpr char kAbierta = 'A'; // login process -> parent: logged in, and a ResumenLogin
constexpr char kFallo = 'F';   // login process -> parent: a FalloLogin
// Between the application and the login server, which forks one login process per open.
constexpr char kLanza = 'L';   // application -> server: a Lanzamiento and, attached, the login's channel
constexpr char kLanzado = 'N'; // server -> application: the login process's pid, or minus an errno
// Login process -> application, its first message: its own pid, so that the application can reap
// it even when the server died before saying kLanzado.
constexpr char kEnMarcha = 'M';
// Application -> server: as kLanza, for a login process that serves one login after another
// (a worker of one estate run) until its channel closes.
constexpr char kLanzaTrabajador = 'T';
// Worker -> application, after each login's kFallo, or after kCierra once the login is closed: that
// login is gone, its secrets wiped, and the next kPeticion may come.
constexpr char kListo = 'Y';
} // namespace mensaje

// What a login process takes from the open that asked for it rather than
// from the server it was forked from: where FreeTDS's files and the Kerberos
// cache are, and what relative paths are relative to.
struct Lanzamiento {
    std::vector<std::string> entorno; // "NOMBRE=valor"
    std::string directorio;
};
std::string serializa(const Lanzamiento& lanzamiento);
// Throws std::runtime_error on a malformed body.
Lanzamiento deserializaLanzamiento(const std::string& cuerpo);

// A request with the generation's fields filled from its provider (TDS, TLS
// versions and suites, its product's name); the server and the login are the caller's.
PeticionLogin peticionDeGeneracion(const Proveedor& proveedor);

std::string serializa(const PeticionLogin& peticion);
// Throws std::runtime_error on a malformed body.
PeticionLogin deserializa(const std::string& cuerpo);

std::string serializa(const TablaResolucion& tabla);
// Throws std::runtime_error on a malformed body.
TablaResolucion deserializaTabla(const std::string& cuerpo);

std::string serializa(const ResumenLogin& resumen);
ResumenLogin deserializaResumen(const std::string& cuerpo);

std::string serializa(const FalloLogin& fallo);
// Throws std::runtime_error on a malformed body or an unknown cause.
FalloLogin deserializaFallo(const std::string& cuerpo);

// Blocking, whole-message I/O on a stream socket; false on EOF or error.
bool enviaMensaje(int fd, char tipo, const std::string& cuerpo);
bool recibeMensaje(int fd, char& tipo, std::string& cuerpo);

// A message with a descriptor attached (SCM_RIGHTS), and a second one when `otro` is not -1;
// both stay the sender's too.
bool enviaMensajeConDescriptor(int fd, char tipo, const std::string& cuerpo, int descriptor, int otro = -1);
// Blocking; `descriptor` is the one received (close-on-exec), or -1 with `errorDescriptor` set
// when one came but could not be taken (EMFILE: this process has no descriptor left). A second
// one goes to `otro` when given (else -1), and is closed when not asked for.
bool recibeMensajeConDescriptor(int fd, char& tipo, std::string& cuerpo, int& descriptor,
                                int& errorDescriptor, int* otro = nullptr);

// One message within `espera` (none: no limit), however the other end
// behaves: a message longer than the channel takes, or one that stops
// halfway, never holds the reader past it.
enum class Lectura { Mensaje, Fin, Ilegible, Agotada };
Lectura recibeMensaje(int fd, char& tipo, std::string& cuerpo,
                      std::optional<std::chrono::milliseconds> espera);

} // namespace login_shared
