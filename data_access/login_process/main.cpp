// tarpelino-login: one login to SQL Server through db-lib, on behalf of a
// connection object, which talks to it over descriptor 3 and may kill it at
// the open's deadline. It stays while the connection is open and ends when
// told to close or when the connection object goes away. It may be started
// ahead of time and wait for its request.
#include "data_access/Conexion.h"
#include "data_access/PeticionLogin.h"
#include "data_access/TextosError.h"
#include "data_access/login_process/AperturaLogin.h"
#include "data_access/login_process/SesionFreeTds.h"

#include <csignal>
#include <mutex>

using namespace data_access;

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    // Started ahead of its request: what every login needs is made ready while it waits.
    preparaDbLib();
    constexpr int kCanal = 3;
    char tipo = 0;
    std::string cuerpo;
    if (!recibeMensaje(kCanal, tipo, cuerpo) || tipo != mensaje::kPeticion)
        return 2;

    std::mutex escritura; // stages come from the relay's thread too
    const auto envia = [&](char t, const std::string& c) {
        std::lock_guard<std::mutex> cerrojo(escritura);
        enviaMensaje(kCanal, t, c);
    };
    try {
        const PeticionLogin peticion = deserializa(cuerpo);
        const Plazo plazo(peticion.limite, peticion.transcurrido);
        auto login = abreLogin(peticion, plazo, [&](Etapa etapa, const std::string& destino) {
            envia(mensaje::kEtapa, std::string(1, char(etapa)) + destino);
        });
        envia(mensaje::kAbierta, serializa(login->resumen()));
        // Anything, or the other end going away, closes the login.
        recibeMensaje(kCanal, tipo, cuerpo);
        return 0;
    } catch (const ErrorConexion& e) {
        envia(mensaje::kFallo, e.what());
    } catch (const std::exception& e) {
        envia(mensaje::kFallo, textos::errorInterno(e.what()));
    }
    return 1;
}
