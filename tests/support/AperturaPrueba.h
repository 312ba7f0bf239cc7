#pragma once

// What the data-access tests share: the connection string the probe writes,
// one open with what it said and how long it took, and the checks on both.
#include "data_access/ConexionFreeTds.h"
#include "tests/stand_in/server.h"
#include "tests/support/EntornoTemporal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

using Reloj = std::chrono::steady_clock;

// The login a stand-in from configConSa() accepts.
inline const std::string kLoginSa = "User ID=sa;Password=Secr3t!;";

// What the probe writes for `servidor`, then `resto` (the login, a timeout).
inline std::string cadena(const std::string& servidor, const std::string& resto = kLoginSa,
                          const std::string& proveedor = "SQLNCLI10",
                          const std::string& baseDatos = "MASTER") {
    return "Provider=" + proveedor + ";Server=" + servidor + ";Database=" + baseDatos +
           ";DataTypeCompatibility=80;" + resto;
}

inline std::string servidorEn(std::uint16_t puerto, const std::string& host = "127.0.0.1") {
    return host + "," + std::to_string(puerto);
}

inline stand_in::Config configConSa(stand_in::Fault fallo = stand_in::Fault::None,
                                    std::chrono::milliseconds retraso = std::chrono::milliseconds(0)) {
    stand_in::Config c;
    c.logins = {{"sa", "Secr3t!"}};
    c.fault = fallo;
    c.faultDelay = retraso;
    return c;
}

struct Apertura {
    bool abierta = false;
    std::string descripcion; // of the failure; empty when it opened
    Reloj::duration duracion{};
};

// Closes again what opened, so that no test leaves a session behind.
inline Apertura intentaAbrir(data_access::ConexionFreeTds& c, const std::string& texto) {
    Apertura r;
    c.setConnectionString(texto);
    const auto inicio = Reloj::now();
    try {
        c.open();
        r.abierta = true;
    } catch (const login_shared::ErrorConexion& e) {
        r.descripcion = e.what();
    }
    r.duracion = Reloj::now() - inicio;
    if (r.abierta)
        c.close();
    return r;
}

// The description of an open that must fail, with a connection object of its own.
inline std::string
fallo(const std::string& texto,
      std::chrono::milliseconds porDefecto = data_access::ConexionFreeTds::kTiempoEsperaPorDefecto) {
    data_access::ConexionFreeTds c(porDefecto);
    const Apertura r = intentaAbrir(c, texto);
    if (r.abierta)
        ADD_FAILURE() << "se abrió: " << texto;
    EXPECT_FALSE(c.isOpen());
    return r.descripcion;
}

// The description of the ErrorConexion that `accion` must throw.
inline std::string errorDe(const std::function<void()>& accion) {
    try {
        accion();
    } catch (const login_shared::ErrorConexion& e) {
        return e.what();
    }
    ADD_FAILURE() << "no lanzó ErrorConexion";
    return {};
}

inline void contiene(const std::string& texto, const std::string& parte) {
    EXPECT_NE(texto.find(parte), std::string::npos) << "«" << parte << "» no está en: " << texto;
}

// A FreeTDS configuration file named in FREETDSCONF while it lives, as a user's alias file would be.
struct ConfFreeTds {
    ConfFreeTds(const std::string& nombre, const std::string& contenido)
        : ruta(::testing::TempDir() + nombre) {
        std::ofstream(ruta) << contenido;
        entorno.fija("FREETDSCONF", ruta);
    }
    ~ConfFreeTds() { std::remove(ruta.c_str()); }
    ConfFreeTds(const ConfFreeTds&) = delete;
    ConfFreeTds& operator=(const ConfFreeTds&) = delete;

    const std::string ruta;
    EntornoTemporal entorno; // also for what the test sets beside it
};

struct ProcesoHijo {
    pid_t pid;
    std::string nombre;
};

// Children of this process, zombies too, read from /proc: login processes are among them.
inline std::vector<ProcesoHijo> procesosHijos() {
    std::vector<ProcesoHijo> hijos;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = e.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream estado(e.path() / "status");
        std::string linea, nombre;
        pid_t padre = 0;
        while (std::getline(estado, linea)) {
            if (linea.rfind("Name:", 0) == 0)
                nombre = linea.substr(linea.find_first_not_of(" \t", 5));
            else if (linea.rfind("PPid:", 0) == 0)
                padre = std::atoi(linea.c_str() + 5);
        }
        if (padre == ::getpid())
            hijos.push_back({std::stoi(pid), nombre});
    }
    return hijos;
}
