#include "SesionFreeTds.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sybdb.h>
#include <unistd.h>

namespace data_access {

namespace {

std::mutex gMutexLogin;
Diagnostico* gDiagnostico = nullptr; // the login in progress, if any

int manejadorErrores(DBPROCESS*, int, int numero, int errorSistema, char* texto, char*) {
    if (gDiagnostico)
        gDiagnostico->errores.push_back({numero, errorSistema, texto ? texto : ""});
    // Anything but INT_CANCEL makes db-lib end the whole process.
    return INT_CANCEL;
}

int manejadorMensajes(DBPROCESS*, DBINT numero, int estado, int clase, char* texto, char*, char*, int) {
    if (gDiagnostico)
        gDiagnostico->mensajes.push_back({int(numero), estado, clase, texto ? texto : ""});
    return 0;
}

void iniciaDbLib() {
    static std::once_flag hecho;
    std::call_once(hecho, [] {
        dbinit();
        dberrhandle(manejadorErrores);
        dbmsghandle(manejadorMensajes);
    });
}

// FreeTDS lets these variables override what the program asks for (the TDS
// version above all); they are hidden for the length of one login.
class EntornoNeutro {
public:
    EntornoNeutro() {
        for (std::size_t i = 0; i < kVariables.size(); ++i)
            if (const char* v = std::getenv(kVariables[i])) {
                guardadas_[i] = v;
                ::unsetenv(kVariables[i]);
            }
    }
    ~EntornoNeutro() {
        for (std::size_t i = 0; i < kVariables.size(); ++i)
            if (guardadas_[i])
                ::setenv(kVariables[i], guardadas_[i]->c_str(), 1);
    }
    EntornoNeutro(const EntornoNeutro&) = delete;
    EntornoNeutro& operator=(const EntornoNeutro&) = delete;

private:
    static constexpr std::array<const char*, 3> kVariables{"TDSVER", "TDSPORT", "TDSHOST"};
    std::array<std::optional<std::string>, kVariables.size()> guardadas_;
};

// A freetds.conf of our own that db-lib reads before any other, for the
// length of one login.
class ArchivoConfiguracion {
public:
    explicit ArchivoConfiguracion(const std::string& contenido) {
        if (contenido.empty())
            return;
        const char* tmp = std::getenv("TMPDIR");
        std::string plantilla = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarpelino-XXXXXX.conf";
        int fd = ::mkstemps(plantilla.data(), 5);
        if (fd < 0)
            return;
        const bool escrito = ::write(fd, contenido.data(), contenido.size()) == ssize_t(contenido.size());
        ::close(fd);
        if (!escrito) {
            ::unlink(plantilla.c_str());
            return;
        }
        ruta_ = plantilla;
        dbsetifile(ruta_.data());
    }
    ~ArchivoConfiguracion() {
        if (ruta_.empty())
            return;
        dbsetifile(const_cast<char*>(""));
        ::unlink(ruta_.c_str());
    }
    ArchivoConfiguracion(const ArchivoConfiguracion&) = delete;
    ArchivoConfiguracion& operator=(const ArchivoConfiguracion&) = delete;

    bool fallo(const std::string& contenido) const { return !contenido.empty() && ruta_.empty(); }

private:
    std::string ruta_;
};

class Login {
public:
    Login() : login_(dblogin()) {}
    ~Login() {
        if (login_)
            dbloginfree(login_);
    }
    Login(const Login&) = delete;
    Login& operator=(const Login&) = delete;
    LOGINREC* get() const { return login_; }

private:
    LOGINREC* login_;
};

bool rellenaLogin(LOGINREC* login, const PeticionSesion& p) {
    bool ok = DBSETLCHARSET(login, "UTF-8") == SUCCEED && DBSETLAPP(login, p.aplicacion.c_str()) == SUCCEED &&
              DBSETLDBNAME(login, p.baseDatos.c_str()) == SUCCEED &&
              dbsetlversion(login, BYTE(p.versionDbLib)) == SUCCEED;
    if (!p.estacion.empty())
        ok = ok && DBSETLHOST(login, p.estacion.c_str()) == SUCCEED;
    if (p.integrada)
        return ok && DBSETLNETWORKAUTH(login, TRUE) == SUCCEED;
    return ok && DBSETLUSER(login, p.usuario.c_str()) == SUCCEED && DBSETLPWD(login, p.password.c_str()) == SUCCEED;
}

} // namespace

ProcesoDb* abreSesion(const PeticionSesion& peticion, Diagnostico& diagnostico) {
    std::lock_guard<std::mutex> cerrojo(gMutexLogin);
    iniciaDbLib();
    gDiagnostico = &diagnostico;
    struct Suelta {
        ~Suelta() { gDiagnostico = nullptr; }
    } suelta;

    Login login;
    if (!login.get() || !rellenaLogin(login.get(), peticion)) {
        if (diagnostico.errores.empty())
            diagnostico.errores.push_back({SYBEMEM, 0, "no se pudo preparar el inicio de sesión"});
        return nullptr;
    }
    dbsetlogintime(peticion.segundosLogin);

    ArchivoConfiguracion configuracion(peticion.configuracion);
    if (configuracion.fallo(peticion.configuracion)) {
        diagnostico.errores.push_back({SYBEOPIN, 0, "no se pudo escribir la configuración temporal de FreeTDS"});
        return nullptr;
    }
    EntornoNeutro entorno;
    return dbopen(login.get(), peticion.servidor.c_str());
}

void cierraSesion(ProcesoDb* proceso) {
    if (!proceso)
        return;
    std::lock_guard<std::mutex> cerrojo(gMutexLogin);
    dbclose(proceso);
}

} // namespace data_access
