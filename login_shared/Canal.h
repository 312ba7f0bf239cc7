#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace login_shared {

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
