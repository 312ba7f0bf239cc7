#pragma once

namespace lote {

// Logins in flight per processor that this machine runs without stalling: a
// login waits on its server most of its time, but its process's start, its
// TLS handshake and its end take about 2.4 ms of processor. With 64 of them
// per processor, the work queued ahead of a login is some 150 ms, a seventh of
// the shortest --tiempo (1 s); measured over 600 loopback servers on 2 cores,
// 128 at once with a 1 s limit failed none of 2,400 passes, 256 failed one.
inline constexpr int kLoginsPorProcesador = 64;

// How many logins this machine runs at once without stalling: kLoginsPorProcesador
// for each processor this process may run on, fewer in the proportion that
// the machine is already busier than its processors (its load average over
// the last minute), and no more than its process and descriptor limits leave room for.
int paraleloDelEquipo();

} // namespace lote
