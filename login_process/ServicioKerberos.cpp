#include "login_process/ServicioKerberos.h"

#include "login_process/ConPlazo.h"
#include "login_process/Textos.h"
#include "login_shared/Resumen.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

namespace login_process {

using login_shared::Causa;
using login_shared::ErrorConexion;
using login_shared::Etapa;
using login_shared::Plazo;

namespace {

std::string texto(const gss_buffer_desc& b) {
    return std::string(static_cast<const char*>(b.value), b.length);
}

std::string nombreDe(gss_name_t nombre) {
    OM_uint32 menor = 0;
    gss_buffer_desc b{0, nullptr};
    if (GSS_ERROR(gss_display_name(&menor, nombre, &b, nullptr)))
        return {};
    std::string r = texto(b);
    gss_release_buffer(&menor, &b);
    return r;
}

std::string dominioDe(const std::string& principal) {
    const auto arroba = principal.rfind('@');
    return arroba == std::string::npos ? std::string() : principal.substr(arroba + 1);
}

// The principal whose ticket is in the cache, "ana@EJEMPLO.COM".
std::string principalCliente() {
    OM_uint32 menor = 0;
    gss_name_t nombre = GSS_C_NO_NAME;
    if (GSS_ERROR(gss_inquire_cred(&menor, GSS_C_NO_CREDENTIAL, &nombre, nullptr, nullptr, nullptr)))
        return {};
    std::string r = nombreDe(nombre);
    gss_release_name(&menor, &nombre);
    return r;
}

// Kerberos's own wording, kept as a detail after the Spanish description.
std::string detalleKerberos(OM_uint32 menor) {
    std::string detalle;
    OM_uint32 contexto = 0, menorPropio = 0;
    gss_OID_desc krb5 = *gss_mech_krb5;
    do {
        gss_buffer_desc b{0, nullptr};
        if (GSS_ERROR(gss_display_status(&menorPropio, menor, GSS_C_MECH_CODE, &krb5, &contexto, &b)))
            break;
        detalle += (detalle.empty() ? "" : "; ") + texto(b);
        gss_release_buffer(&menorPropio, &b);
    } while (contexto != 0);
    return detalle;
}

std::optional<std::string> preguntaAlKdc(const std::string& spn) {
    OM_uint32 menor = 0;
    gss_buffer_desc nombre{spn.size(), const_cast<char*>(spn.data())};
    gss_name_t objetivo = GSS_C_NO_NAME;
    if (GSS_ERROR(gss_import_name(&menor, &nombre, GSS_KRB5_NT_PRINCIPAL_NAME, &objetivo)))
        return textos::kerberosFallo(spn, detalleKerberos(menor));
    // Canonical, so that it names its realm: the default one unless the SPN names another.
    std::string servicio = spn;
    gss_OID_desc mecanismo = *gss_mech_krb5;
    gss_name_t canonico = GSS_C_NO_NAME;
    if (!GSS_ERROR(gss_canonicalize_name(&menor, objetivo, &mecanismo, &canonico))) {
        servicio = nombreDe(canonico);
        gss_release_name(&menor, &canonico);
    }

    gss_OID_desc krb5 = *gss_mech_krb5;
    gss_ctx_id_t contexto = GSS_C_NO_CONTEXT;
    gss_buffer_desc salida{0, nullptr};
    const OM_uint32 mayor =
        gss_init_sec_context(&menor, GSS_C_NO_CREDENTIAL, &contexto, objetivo, &krb5,
                             GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_INTEG_FLAG, 0,
                             GSS_C_NO_CHANNEL_BINDINGS, GSS_C_NO_BUFFER, nullptr, &salida, nullptr, nullptr);
    OM_uint32 ignorado = 0;
    gss_release_buffer(&ignorado, &salida);
    if (contexto != GSS_C_NO_CONTEXT)
        gss_delete_sec_context(&ignorado, &contexto, GSS_C_NO_BUFFER);
    gss_release_name(&ignorado, &objetivo);
    if (!GSS_ERROR(mayor))
        return std::nullopt;

    const std::string cliente = principalCliente();
    const std::string dominioServicio = dominioDe(servicio);
    const auto codigo = static_cast<krb5_error_code>(menor);
    if (mayor == GSS_S_CREDENTIALS_EXPIRED || codigo == KRB5KRB_AP_ERR_TKT_EXPIRED)
        return textos::kerberosTicketCaducado(cliente);
    if (mayor == GSS_S_NO_CRED || codigo == KRB5_FCC_NOFILE || codigo == KRB5_CC_NOTFOUND)
        return textos::sinTicketKerberos("no hay credenciales");
    if (codigo == KRB5_KDC_UNREACH)
        return textos::kerberosKdcInalcanzable(dominioServicio);
    if (codigo == KRB5_REALM_CANT_RESOLVE || codigo == KRB5_REALM_UNKNOWN)
        return textos::kerberosDominioDesconocido(dominioServicio, cliente);
    if (codigo == KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN) {
        if (!cliente.empty() && dominioDe(cliente) != dominioServicio)
            return textos::kerberosOtroDominio(cliente, servicio);
        return textos::kerberosSpnDesconocido(servicio);
    }
    return textos::kerberosFallo(servicio, detalleKerberos(menor));
}

} // namespace

std::optional<ErrorConexion> faltaTicketDeServicio(const std::string& spn, const Plazo& plazo,
                                                   const std::string& destino) {
    auto respuesta = conPlazo<std::optional<std::string>>(plazo, [spn] { return preguntaAlKdc(spn); });
    if (!respuesta)
        return ErrorConexion(textos::tiempoAgotadoEn(Etapa::PreparacionLogin, destino, plazo, true),
                             Causa::Tiempo);
    if (*respuesta)
        return ErrorConexion(**respuesta, Causa::Kerberos);
    return std::nullopt;
}

} // namespace login_process
