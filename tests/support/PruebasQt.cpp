#include "tests/support/PruebasQt.h"

#include <QApplication>
#include <QTest>
#include <map>
#include <string>
#include <vector>

namespace {

// Filled while the executable's files initialise, in whatever order they do.
std::map<std::string, std::unique_ptr<QObject> (*)()>& pruebas() {
    static std::map<std::string, std::unique_ptr<QObject> (*)()> registradas;
    return registradas;
}

} // namespace

bool registraPrueba(const char* sujeto, std::unique_ptr<QObject> (*crea)()) {
    return pruebas().emplace(sujeto, crea).second;
}

int main(int argc, char* argv[]) {
    QApplication aplicacion(argc, argv);
    // As QTEST_MAIN does: the same pixels on every machine.
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    std::vector<char*> argumentos(argv, argv + argc);
    std::string elegida;
    if (argumentos.size() > 1 && pruebas().count(argumentos[1])) {
        elegida = argumentos[1];
        argumentos.erase(argumentos.begin() + 1);
    }
    int fallos = 0;
    for (const auto& [sujeto, crea] : pruebas()) {
        if (!elegida.empty() && sujeto != elegida)
            continue;
        const std::unique_ptr<QObject> prueba = crea();
        fallos += QTest::qExec(prueba.get(), int(argumentos.size()), argumentos.data());
    }
    return fallos;
}
