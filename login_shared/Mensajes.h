#pragma once

#include <cstdint>

namespace login_shared {

// The protocol's version: the first number of each conversation's first message (a Lanzamiento to
// the server; a PeticionLogin, or the TablaResolucion before it, to a login process). Both ends
// come from one build; a mismatch means they do not, and is refused as an internal error.
constexpr std::uint64_t kVersionProtocolo = 1;

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
// Application -> login process, in place of kPeticion: a PeticionLogin without credentials, whose
// server's TLS versions are to be found without a login (no LOGIN7 is sent).
constexpr char kSondaTls = 'S';
// Login process -> application, the answer to kSondaTls: a VersionesTls.
constexpr char kVersionesTls = 'V';
} // namespace mensaje

// Where the application puts a login process's descriptors when it starts one: its channel, and
// the generation's TLS priorities that GnuTLS reads as its system file.
constexpr int kDescriptorCanal = 3;
constexpr int kDescriptorPrioridadesTls = 4;

} // namespace login_shared
