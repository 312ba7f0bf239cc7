#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

// Sets environment variables for one test and puts back what was there when
// it goes out of scope, even when the test fails half way. The login process
// inherits the environment, so this is how a test points it at a file.
// Not thread-safe (setenv): use it while no other thread reads the environment.
class EntornoTemporal {
public:
    EntornoTemporal() = default;
    EntornoTemporal(const EntornoTemporal&) = delete;
    EntornoTemporal& operator=(const EntornoTemporal&) = delete;
    ~EntornoTemporal() {
        for (const auto& [nombre, valor] : guardadas_)
            valor ? ::setenv(nombre.c_str(), valor->c_str(), 1) : ::unsetenv(nombre.c_str());
    }

    EntornoTemporal& fija(const std::string& nombre, const std::string& valor) {
        guarda(nombre);
        ::setenv(nombre.c_str(), valor.c_str(), 1);
        return *this;
    }

private:
    void guarda(const std::string& nombre) {
        if (guardadas_.count(nombre))
            return;
        const char* actual = std::getenv(nombre.c_str());
        guardadas_[nombre] = actual ? std::optional<std::string>(actual) : std::nullopt;
    }

    std::map<std::string, std::optional<std::string>> guardadas_;
};
