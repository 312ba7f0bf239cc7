#include "login_process/ConfiguracionFreeTds.h"

#include "login_process/Textos.h"
#include "login_shared/Causa.h"
#include "login_shared/ErrorConexion.h"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace login_process {

using login_shared::Causa;
using login_shared::ErrorConexion;

namespace {

// FreeTDS reads its configuration in lines of 255 characters at most.
constexpr std::size_t kLineaFreeTds = 255;

// One "name = value" line that FreeTDS reads back exactly as written.
std::string linea(const std::string& nombre, const std::string& valor) {
    const std::string l = "\t" + nombre + " = " + valor + "\n";
    const bool seguro =
        valor.find_first_of(";#\r\n\t") == std::string::npos && valor.find("  ") == std::string::npos &&
        (valor.empty() || (valor.front() != ' ' && valor.back() != ' ')) && l.size() - 1 <= kLineaFreeTds;
    if (!seguro)
        throw ErrorConexion(textos::valorConfiguracionNoValido(nombre, valor));
    return l;
}

} // namespace

std::string textoConfiguracion(const ConfiguracionFreeTds& c) {
    std::string texto = "[" + c.servidor + "]\n";
    if (texto.size() - 1 > kLineaFreeTds)
        throw ErrorConexion(textos::valorConfiguracionNoValido("servidor", c.servidor));
    texto += linea("host", "127.0.0.1") + linea("port", std::to_string(c.puertoRelevo)) +
             linea("tds version", c.versionTds) + linea("encryption", c.cifrado) +
             linea("client charset", c.juegoCaracteres);
    if (!c.spn.empty())
        texto += linea("spn", c.spn);
    if (c.alias) {
        if (!c.alias->realm.empty())
            texto += linea("realm", c.alias->realm);
        if (!c.alias->caFile.empty())
            texto += linea("ca file", c.alias->caFile);
        if (!c.alias->crlFile.empty())
            texto += linea("crl file", c.alias->crlFile);
        if (!c.alias->compruebaNombreCertificado.empty())
            texto += linea("check certificate hostname", c.alias->compruebaNombreCertificado);
    }
    return texto;
}

ArchivoEnMemoria::ArchivoEnMemoria(const std::string& contenido)
    : fd_(::memfd_create("freetds.conf", MFD_CLOEXEC)) {
    if (fd_.fd() < 0 || ::write(fd_.fd(), contenido.data(), contenido.size()) != ssize_t(contenido.size())) {
        const int error = errno;
        if (auto limite = textos::limiteDelSistema(error))
            throw ErrorConexion(*limite, Causa::Sistema);
        throw ErrorConexion(textos::errorInterno("no se pudo preparar la configuración de FreeTDS"),
                            Causa::Interno);
    }
}

std::string ArchivoEnMemoria::ruta() const {
    return "/proc/self/fd/" + std::to_string(fd_.fd());
}

} // namespace login_process
