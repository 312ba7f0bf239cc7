#pragma once

#include "Conexion.h"
#include "frmPrincipal.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the fake connection objects of one test did, and how they behave.
struct GuionConexiones {
    // Every call on every object, in order: "set:<string>", "get", "open", "close", "release".
    std::vector<std::string> llamadas;
    // The connection string of each open() call.
    std::vector<std::string> cadenasAbiertas;
    int creadas = 0;
    int vivas = 0;

    // Run inside open(), given the number of the open (0 first); throw to fail it.
    std::function<void(int)> alAbrir;
    // Run inside close(); throw to fail it.
    std::function<void()> alCerrar;
    // What connectionString() gives back, from what was set; identity unless replaced.
    std::function<std::string(const std::string&)> alLeer;
};

class ConexionFalsa : public data_access::Conexion {
public:
    explicit ConexionFalsa(std::shared_ptr<GuionConexiones> guion) : guion_(std::move(guion)) {
        ++guion_->creadas;
        ++guion_->vivas;
    }
    ~ConexionFalsa() override {
        guion_->llamadas.push_back("release");
        --guion_->vivas;
    }

    void setConnectionString(const std::string& cadena) override {
        guion_->llamadas.push_back("set:" + cadena);
        cadena_ = cadena;
    }
    std::string connectionString() const override {
        guion_->llamadas.push_back("get");
        return guion_->alLeer ? guion_->alLeer(cadena_) : cadena_;
    }
    void open() override {
        guion_->llamadas.push_back("open");
        const int numero = int(guion_->cadenasAbiertas.size());
        guion_->cadenasAbiertas.push_back(cadena_);
        if (guion_->alAbrir)
            guion_->alAbrir(numero);
        abierta_ = true;
    }
    void close() override {
        guion_->llamadas.push_back("close");
        if (guion_->alCerrar)
            guion_->alCerrar();
        abierta_ = false;
    }
    bool isOpen() const override { return abierta_; }

private:
    std::shared_ptr<GuionConexiones> guion_;
    std::string cadena_;
    bool abierta_ = false;
};

inline frmPrincipal::FabricaConexion fabricaFalsa(std::shared_ptr<GuionConexiones> guion) {
    return [guion]() -> std::unique_ptr<data_access::Conexion> {
        return std::make_unique<ConexionFalsa>(guion);
    };
}
