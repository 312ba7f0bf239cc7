#pragma once

#include <random>
#include <string>
#include <system_error>

// FreeTDS asks the SQL Server Browser on UDP port 1434 of the host it resolved, a port no test can
// choose. So a test that plays the Browser takes a loopback address of its own, 127.x.y.z at random
// (never 127.0.0.*, where the suite's fixed addresses are): another copy of the suite running
// beside it holds another one, and an address found taken is replaced by a new one.
//
// Calls `ocupa(direccion)` until it binds; returns that address. `ocupa` throws std::system_error
// when it cannot bind: EADDRINUSE is tried again elsewhere, anything else (no permission for port
// 1434) goes to the caller, as does the twentieth taken address in a row.
template <class Ocupa> std::string loopbackPropio(Ocupa&& ocupa) {
    std::random_device semilla;
    std::mt19937 azar(semilla());
    std::uniform_int_distribution<int> segundo(1, 255), tercero(0, 255), cuarto(1, 254);
    for (int intento = 1;; ++intento) {
        const std::string direccion = "127." + std::to_string(segundo(azar)) + "." +
                                      std::to_string(tercero(azar)) + "." + std::to_string(cuarto(azar));
        try {
            ocupa(direccion);
            return direccion;
        } catch (const std::system_error& e) {
            if (e.code() != std::errc::address_in_use || intento == 20)
                throw;
        }
    }
}
