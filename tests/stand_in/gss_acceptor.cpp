#include "tests/stand_in/gss_acceptor.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

namespace stand_in {

namespace {

std::string statusText(OM_uint32 status, int type) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &message)))
            break;
        if (!text.empty())
            text += "; ";
        text.append(static_cast<const char*>(message.value), message.length);
        gss_release_buffer(&minor, &message);
    } while (context != 0);
    return text;
}

std::string describe(const char* call, OM_uint32 major, OM_uint32 minor) {
    return std::string(call) + ": " + statusText(major, GSS_C_GSS_CODE) + " (" +
           statusText(minor, GSS_C_MECH_CODE) + ")";
}

} // namespace

bool isNtlmToken(const std::string& token) {
    return token.compare(0, 8, std::string("NTLMSSP\0", 8)) == 0;
}

AcceptResult acceptSecurityToken(const std::string& keytab, const std::string& token) {
    AcceptResult result;
    OM_uint32 minor = 0;

    // The keytab goes through the credential store rather than KRB5_KTNAME, which is process-wide.
    // No replay cache: nothing on disk outside the test's own files.
    const gss_key_value_element_desc elements[] = {{"keytab", keytab.c_str()}, {"rcache", "none:"}};
    const gss_key_value_set_desc store = {2, const_cast<gss_key_value_element_desc*>(elements)};
    gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
    OM_uint32 major = gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                                            GSS_C_ACCEPT, &store, &credential, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        result.error = describe("gss_acquire_cred_from", major, minor);
        return result;
    }

    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_buffer_desc input{token.size(), const_cast<char*>(token.data())};
    gss_name_t client = GSS_C_NO_NAME;
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    major = gss_accept_sec_context(&minor, &context, credential, &input, GSS_C_NO_CHANNEL_BINDINGS, &client,
                                   nullptr, &output, nullptr, nullptr, nullptr);
    if (major == GSS_S_COMPLETE) {
        gss_buffer_desc name = GSS_C_EMPTY_BUFFER;
        OM_uint32 nameMinor = 0;
        const OM_uint32 nameMajor = gss_display_name(&nameMinor, client, &name, nullptr);
        if (GSS_ERROR(nameMajor)) {
            result.error = describe("gss_display_name", nameMajor, nameMinor);
        } else {
            result.accepted = true;
            result.principal.assign(static_cast<const char*>(name.value), name.length);
            result.reply.assign(static_cast<const char*>(output.value), output.length);
        }
        gss_release_buffer(&nameMinor, &name);
    } else if (major == GSS_S_CONTINUE_NEEDED) {
        result.error = "gss_accept_sec_context wants another round trip, which this server does not do";
    } else {
        result.error = describe("gss_accept_sec_context", major, minor);
    }

    OM_uint32 ignored = 0;
    gss_release_buffer(&ignored, &output);
    gss_release_name(&ignored, &client);
    if (context != GSS_C_NO_CONTEXT)
        gss_delete_sec_context(&ignored, &context, GSS_C_NO_BUFFER);
    gss_release_cred(&ignored, &credential);
    return result;
}

} // namespace stand_in
