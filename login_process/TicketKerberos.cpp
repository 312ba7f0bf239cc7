#include "login_process/TicketKerberos.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>

namespace login_process {

std::optional<std::string> faltaTicketKerberos() {
    OM_uint32 menor = 0;
    gss_cred_id_t credencial = GSS_C_NO_CREDENTIAL;
    OM_uint32 vigencia = 0;
    gss_OID_desc krb5 = *gss_mech_krb5;
    gss_OID_set_desc mecanismos{1, &krb5};
    OM_uint32 mayor = gss_acquire_cred(&menor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mecanismos, GSS_C_INITIATE,
                                       &credencial, nullptr, &vigencia);
    if (credencial != GSS_C_NO_CREDENTIAL)
        gss_release_cred(&menor, &credencial);
    if (GSS_ERROR(mayor))
        return std::string(mayor == GSS_S_CREDENTIALS_EXPIRED ? "el ticket ha caducado"
                                                              : "no hay credenciales");
    if (vigencia == 0)
        return std::string("el ticket ha caducado");
    return std::nullopt;
}

} // namespace login_process
