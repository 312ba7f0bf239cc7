#include "main_window/esperaSinBloquear.h"

#include <QEventLoop>
#include <QThread>
#include <exception>
#include <memory>
#include <stdexcept>

void esperaSinBloquear(const std::function<void()>& trabajo) {
    std::exception_ptr error;
    // An exception leaving a thread's function ends the process: carry it over.
    std::unique_ptr<QThread> hilo(QThread::create([&trabajo, &error] {
        try {
            trabajo();
        } catch (...) {
            error = std::current_exception();
        }
    }));
    QEventLoop bucle;
    // Queued, so the loop gets it even when the work ends before exec() starts.
    QObject::connect(hilo.get(), &QThread::finished, &bucle, &QEventLoop::quit, Qt::QueuedConnection);
    hilo->start();
    if (!hilo->isRunning() && !hilo->isFinished())
        throw std::runtime_error("No se pudo crear el hilo de la conexión.");
    bucle.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends early when the application quits; the work must still
    // be over before what it uses goes away.
    hilo->wait();
    if (error)
        std::rethrow_exception(error);
}
