#pragma once

#include <QObject>
#include <memory>

// A test folder's QtTest classes share one executable and each runs on its own by name:
// `<folder>_tests <Subject> [QtTest arguments]`; without a name, all of them run.
bool registraPrueba(const char* sujeto, std::unique_ptr<QObject> (*crea)());

#define PRUEBA_QT(Sujeto)                                                                                    \
    [[maybe_unused]] static const bool registrada##Sujeto =                                                  \
        registraPrueba(#Sujeto, [] { return std::unique_ptr<QObject>(new Sujeto); });
