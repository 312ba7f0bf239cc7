#pragma once

#include "data_access/Conexion.h"
#include "tests/support/VentanaPrueba.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Holds every open() on the thread it runs on until the test lets it through,
// as an open waiting on the network does.
class CompuertaApertura {
public:
    // Lets held and later opens through.
    void suelta() {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        abierta_ = true;
        cambio_.notify_all();
    }
    // How many opens have reached the gate so far.
    int llegadas() const {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        return llegadas_;
    }
    // Run by open(). Gives up after a while, so a window that waits on its own
    // thread (where the test cannot let it through) fails its test, not hangs it.
    void pasa() {
        std::unique_lock<std::mutex> cerrojo(mutex_);
        ++llegadas_;
        cambio_.wait_for(cerrojo, std::chrono::seconds(5), [this] { return abierta_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cambio_;
    bool abierta_ = false;
    int llegadas_ = 0;
};

// What the fake connection objects of one test did, and how they behave.
struct GuionConexiones {
    // Every call on every object, in order: "set:<string>", "get", "open", "close", "release".
    std::vector<std::string> llamadas;
    // The connection string of each open() call.
    std::vector<std::string> cadenasAbiertas;
    int creadas = 0;
    int vivas = 0;

    // Run inside open(), given the number of the open (0 first); throw to fail it.
    // It runs on the user-interface thread, wherever open() runs, so it may
    // look at and change the window.
    std::function<void(int)> alAbrir;
    // When set, open() waits at it before alAbrir.
    std::shared_ptr<CompuertaApertura> compuerta;
    // Opens that ran on a thread other than the user-interface one.
    int abiertasFueraDelHiloGui = 0;
    // Run inside close(); throw to fail it.
    std::function<void()> alCerrar;
    // What connectionString() gives back, from what was set; identity unless replaced.
    std::function<std::string(const std::string&)> alLeer;
    // What resumenApertura() gives back.
    std::string resumen;
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
        const bool enHiloGui = QThread::currentThread() == QCoreApplication::instance()->thread();
        if (!enHiloGui)
            ++guion_->abiertasFueraDelHiloGui;
        if (guion_->compuerta)
            guion_->compuerta->pasa();
        if (guion_->alAbrir) {
            if (enHiloGui) {
                guion_->alAbrir(numero);
            } else {
                std::exception_ptr error;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [&] {
                        try {
                            guion_->alAbrir(numero);
                        } catch (...) {
                            error = std::current_exception();
                        }
                    },
                    Qt::BlockingQueuedConnection);
                if (error)
                    std::rethrow_exception(error);
            }
        }
        abierta_ = true;
    }
    void close() override {
        guion_->llamadas.push_back("close");
        if (guion_->alCerrar)
            guion_->alCerrar();
        abierta_ = false;
    }
    bool isOpen() const override { return abierta_; }
    std::string resumenApertura() const override { return guion_->resumen; }

private:
    std::shared_ptr<GuionConexiones> guion_;
    std::string cadena_;
    bool abierta_ = false;
};

inline probe::FabricaConexion fabricaFalsa(std::shared_ptr<GuionConexiones> guion) {
    return [guion]() -> std::unique_ptr<data_access::Conexion> {
        return std::make_unique<ConexionFalsa>(guion);
    };
}

// The window driven with fake connection objects, all scripted by `guion`.
struct VentanaConFalsas : VentanaPrueba {
    std::shared_ptr<GuionConexiones> guion;

    VentanaConFalsas() : VentanaConFalsas(std::make_shared<GuionConexiones>()) {}

private:
    explicit VentanaConFalsas(std::shared_ptr<GuionConexiones> g)
        : VentanaPrueba(fabricaFalsa(g)), guion(std::move(g)) {}
};
