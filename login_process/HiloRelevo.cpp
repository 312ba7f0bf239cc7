#include "login_process/HiloRelevo.h"

#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace login_process {

struct HiloRelevo::Hilo {
    std::mutex mutex;
    std::condition_variable aviso;
    std::function<void()> trabajo; // set while it has work
    bool terminado = false;        // the work set last has ended

    void bucle() {
        std::unique_lock<std::mutex> cerrojo(mutex);
        for (;;) {
            aviso.wait(cerrojo, [this] { return bool(trabajo); });
            std::function<void()> t = std::move(trabajo);
            trabajo = nullptr;
            cerrojo.unlock();
            t();
            t = nullptr; // what the work captured goes before it is said to have ended
            cerrojo.lock();
            terminado = true;
            // Told once the lock is free: woken under it, the waiter would only wait again for it.
            cerrojo.unlock();
            aviso.notify_all();
            cerrojo.lock();
        }
    }
};

namespace {

// The idle threads. Never destroyed: threads blocked in it may outlive the
// process's static objects at exit.
struct Libres {
    std::mutex mutex;
    std::vector<HiloRelevo::Hilo*> hilos;
};

Libres* gLibres = nullptr;

Libres& libres() {
    static const bool registrado = [] {
        gLibres = new Libres;
        // A forked child has none of its parent's threads: it starts with none kept.
        ::pthread_atfork(nullptr, nullptr, [] { gLibres = new Libres; });
        return true;
    }();
    (void)registrado;
    return *gLibres;
}

} // namespace

HiloRelevo::HiloRelevo(std::function<void()> trabajo) : hilo_(nullptr) {
    {
        Libres& l = libres();
        std::lock_guard<std::mutex> cerrojo(l.mutex);
        if (!l.hilos.empty()) {
            hilo_ = l.hilos.back();
            l.hilos.pop_back();
        }
    }
    if (!hilo_) {
        auto nuevo = std::make_unique<Hilo>();
        std::thread(&Hilo::bucle, nuevo.get()).detach(); // throws when no thread is to be had
        hilo_ = nuevo.release();
    }
    {
        std::lock_guard<std::mutex> cerrojo(hilo_->mutex);
        hilo_->terminado = false;
        hilo_->trabajo = std::move(trabajo);
    }
    hilo_->aviso.notify_all();
}

HiloRelevo::~HiloRelevo() {
    {
        std::unique_lock<std::mutex> cerrojo(hilo_->mutex);
        hilo_->aviso.wait(cerrojo, [this] { return hilo_->terminado; });
    }
    Libres& l = libres();
    std::lock_guard<std::mutex> cerrojo(l.mutex);
    l.hilos.push_back(hilo_);
}

} // namespace login_process
