#include "TextosError.h"

#include <cerrno>

namespace data_access::textos {

std::string segundos(std::chrono::milliseconds duracion) {
    const auto ms = duracion.count();
    std::string texto = std::to_string(ms / 1000);
    if (ms % 1000 != 0)
        texto += "," + std::to_string((ms % 1000) / 100);
    return texto + " s";
}

std::string hostNoEncontrado(const std::string& host) {
    return "No se encuentra el servidor «" + host + "»: el nombre no se puede resolver a una dirección IP.";
}

std::string resolucionAgotada(const std::string& host, std::chrono::milliseconds limite) {
    return "Tiempo de espera agotado tras " + segundos(limite) + " buscando la dirección de «" + host + "».";
}

std::string conexionRechazada(const std::string& destino) {
    return "Conexión rechazada por " + destino + ": no hay ningún SQL Server escuchando ahí.";
}

std::string tiempoAgotado(const std::string& destino, std::chrono::milliseconds limite) {
    return "Tiempo de espera agotado: " + destino + " no completó el inicio de sesión en " + segundos(limite) + ".";
}

std::string conexionCerrada(const std::string& destino) {
    return "El servidor " + destino + " cerró la conexión durante el inicio de sesión.";
}

std::string errorRed(const std::string& destino, int errorSistema) {
    switch (errorSistema) {
    case ENETUNREACH:
        return "No se puede conectar con " + destino + ": la red es inalcanzable.";
    case EHOSTUNREACH:
        return "No se puede conectar con " + destino + ": el host es inalcanzable.";
    case ECONNRESET:
        return "El servidor " + destino + " reinició la conexión durante el inicio de sesión.";
    default:
        return "No se puede conectar con " + destino + " (error de red " + std::to_string(errorSistema) + ").";
    }
}

std::string respuestaNoTds(const std::string& destino) {
    return "El servidor " + destino + " respondió con datos que no son de SQL Server (protocolo TDS).";
}

std::string inicioSesionFallido(const std::string& destino, bool integrada) {
    if (integrada)
        return "No se pudo iniciar sesión con seguridad integrada (Kerberos) en " + destino +
               ": el servidor no aceptó la autenticación o no hay ticket de servicio para él.";
    return "No se pudo completar el inicio de sesión en " + destino +
           ": no se pudo negociar el cifrado o el servidor no respondió como un SQL Server.";
}

std::string inicioSesionRechazado(const std::string& destino) {
    return "El servidor " + destino + " rechazó el inicio de sesión:";
}

std::string errorCliente(const std::string& destino, int numero, const std::string& texto) {
    return "Error " + std::to_string(numero) + " de la biblioteca cliente con " + destino + ": " + texto;
}

std::string browserCerrado(const std::string& host) {
    return "El servicio SQL Server Browser no está activo en «" + host +
           "» (puerto UDP 1434 cerrado): indique el puerto como servidor,puerto.";
}

std::string browserSinRespuesta(const std::string& host, std::chrono::milliseconds limite) {
    return "El servicio SQL Server Browser de «" + host + "» no respondió en " + segundos(limite) +
           " (puerto UDP 1434): indique el puerto como servidor,puerto.";
}

std::string instanciaNoEncontrada(const std::string& instancia, const std::string& host,
                                  const std::vector<std::string>& existentes) {
    std::string texto = "La instancia «" + instancia + "» no existe en «" + host + "»";
    if (existentes.empty())
        return texto + ".";
    texto += " (instancias:";
    for (std::size_t i = 0; i < existentes.size(); ++i)
        texto += (i ? ", " : " ") + existentes[i];
    return texto + ").";
}

std::string sinTicketKerberos(const std::string& motivo) {
    return "Seguridad integrada: no hay ningún ticket de Kerberos válido (" + motivo +
           "). Obtenga uno con kinit usuario@DOMINIO o indique un usuario de SQL Server.";
}

std::string mensajeServidor(int numero, int clase, int estado, const std::string& texto) {
    return "Msg " + std::to_string(numero) + ", nivel " + std::to_string(clase) + ", estado " +
           std::to_string(estado) + ": " + texto;
}

} // namespace data_access::textos
