#include "login_process/SesionFreeTds.h"
#include "login_shared/Peticion.h"

#include <sybdb.h>

#include <algorithm>
#include <cstring>
#include <iconv.h>
#include <string_view>

namespace login_process {

using login_shared::Credenciales;

namespace {

Diagnostico* gDiagnostico = nullptr; // the login in progress, if any

// At most kTextoMaximo bytes, cut where a UTF-8 character starts.
std::string acotado(const char* texto) {
    if (!texto)
        return {};
    std::size_t n = ::strnlen(texto, Diagnostico::kTextoMaximo + 1);
    if (n <= Diagnostico::kTextoMaximo)
        return std::string(texto, n);
    n = Diagnostico::kTextoMaximo;
    while (n > 0 && (static_cast<unsigned char>(texto[n]) & 0xC0) == 0x80)
        --n;
    return std::string(texto, n) + "…";
}

int manejadorErrores(DBPROCESS*, int, int numero, int errorSistema, char* texto, char*) {
    if (gDiagnostico && gDiagnostico->errores.size() < Diagnostico::kMensajesMaximos)
        gDiagnostico->errores.push_back({numero, errorSistema, acotado(texto)});
    // Anything but INT_CANCEL makes db-lib end the whole process.
    return INT_CANCEL;
}

int manejadorMensajes(DBPROCESS*, DBINT numero, int estado, int clase, char* texto, char* servidor, char*,
                      int) {
    if (!gDiagnostico)
        return 0;
    Diagnostico& d = *gDiagnostico;
    const bool error = clase > 10;
    const auto delMismoTipo =
        std::count_if(d.mensajes.begin(), d.mensajes.end(),
                      [error](const MensajeServidor& m) { return (m.clase > 10) == error; });
    // A server may send messages without end: the first ones tell why.
    if (std::size_t(delMismoTipo) < Diagnostico::kMensajesMaximos)
        d.mensajes.push_back({int(numero), estado, clase, acotado(texto)});
    else if (error)
        ++d.erroresOmitidos;
    if (servidor && *servidor && d.nombreServidor.empty())
        d.nombreServidor = acotado(servidor);
    return 0;
}

struct LiberaLogin {
    void operator()(LOGINREC* login) const { dbloginfree(login); }
};
using Login = std::unique_ptr<LOGINREC, LiberaLogin>;

// The database as the login asks for it: the system database by its own
// spelling whatever the case it was given in ("MASTER", the default of both
// programs), since on a server with a case-sensitive collation only `master`
// exists; any other name exactly as given.
std::string basePedida(const std::string& baseDatos) {
    static constexpr std::string_view kSistema = "master";
    const bool esSistema =
        std::equal(baseDatos.begin(), baseDatos.end(), kSistema.begin(), kSistema.end(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b; });
    return esSistema ? std::string(kSistema) : baseDatos;
}

bool rellenaLogin(LOGINREC* login, const PeticionSesion& sesion) {
    const Credenciales& p = sesion.credenciales;
    bool ok = DBSETLCHARSET(login, sesion.juegoCaracteres.c_str()) == SUCCEED &&
              DBSETLAPP(login, p.aplicacion.c_str()) == SUCCEED &&
              DBSETLDBNAME(login, basePedida(p.baseDatos).c_str()) == SUCCEED &&
              dbsetlversion(login, BYTE(sesion.versionDbLib)) == SUCCEED;
    if (!p.estacion.empty())
        ok = ok && DBSETLHOST(login, p.estacion.c_str()) == SUCCEED;
    if (p.integrada)
        return ok && DBSETLNETWORKAUTH(login, TRUE) == SUCCEED;
    return ok && DBSETLUSER(login, p.usuario.c_str()) == SUCCEED &&
           DBSETLPWD(login, p.password.texto().c_str()) == SUCCEED;
}

} // namespace

void CierraSesionDb::operator()(tds_dblib_dbprocess* sesion) const {
    dbclose(sesion);
}

void preparaDbLib() {
    static bool preparada = false;
    if (preparada)
        return;
    preparada = true;
    dbinit();
    dberrhandle(manejadorErrores);
    dbmsghandle(manejadorMensajes);
    // FreeTDS converts between UTF-16 and the client charset, ISO-8859-1 and
    // the server's code page (CP1252 for the usual collations) during the
    // login; each conversion loads a gconv module on first use. Descriptors
    // kept open until exit keep the modules loaded.
    struct Conversiones {
        iconv_t abiertas[3] = {iconv_open("UTF-16LE", "UTF-8"), iconv_open("UTF-16LE", "ISO-8859-1"),
                               iconv_open("UTF-16LE", "CP1252")};
        ~Conversiones() {
            for (iconv_t c : abiertas)
                if (c != iconv_t(-1))
                    iconv_close(c);
        }
    };
    static const Conversiones conversiones;
}

SesionDb abreSesion(const PeticionSesion& peticion, Diagnostico& diagnostico, CopiasContrasena& copias) {
    preparaDbLib();
    gDiagnostico = &diagnostico;
    struct Suelta {
        ~Suelta() { gDiagnostico = nullptr; }
    } suelta;

    Login login(dblogin());
    if (!login.get() || !rellenaLogin(login.get(), peticion)) {
        if (diagnostico.errores.empty())
            diagnostico.errores.push_back({SYBEMEM, 0, "no se pudo preparar el inicio de sesión"});
        return nullptr;
    }
    // dbopen copies the LOGINREC before it connects and never reads it again: its password can go
    // while dbopen waits for the reply (FreeTDS zeroes the old one when a new one is set).
    const int copia = copias.anota([l = login.get()] { DBSETLPWD(l, ""); });
    dbsetlogintime(peticion.segundosLogin);
    dbsetifile(const_cast<char*>(peticion.archivoConfiguracion.c_str()));
    SesionDb sesion(dbopen(login.get(), peticion.servidor.c_str()));
    copias.retira(copia);
    return sesion;
}

std::string versionAcordada(const SesionDb& sesion) {
    switch (dbtds(sesion.get())) {
    case DBTDS_7_0:
        return "7.0";
    case DBTDS_7_1:
        return "7.1";
    case DBTDS_7_2:
        return "7.2";
    case DBTDS_7_3:
        return "7.3";
    case DBTDS_7_4:
        return "7.4";
    default:
        return "?";
    }
}

} // namespace login_process
