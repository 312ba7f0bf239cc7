#pragma once

namespace lote {

// Logins in flight per processor that this machine runs without stalling: a
// login waits on its server most of its time, but its process's start, its
// TLS handshake and its end take the processor, and logins that queue for it
// see their deadline run out on this machine, not on the server.
inline constexpr int kLoginsPorProcesador = 16;

// How many logins this machine runs at once without stalling: kLoginsPorProcesador
// for each processor this process may run on, and no more than its process
// and descriptor limits leave room for.
int paraleloDelEquipo();

} // namespace lote
