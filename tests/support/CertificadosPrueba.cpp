#include "tests/support/CertificadosPrueba.h"

#include "tests/stand_in/process_runner.h"

#include <fstream>
#include <stdexcept>

namespace pruebas {

namespace {

using stand_in::testing::ProcessResult;
using stand_in::testing::runProcess;

void certtool(const std::vector<std::string>& argumentos) {
    std::vector<std::string> argv{CERTTOOL_PROGRAM};
    argv.insert(argv.end(), argumentos.begin(), argumentos.end());
    const ProcessResult r = runProcess(argv, {}, "", std::chrono::seconds(60));
    if (r.exitCode != 0) {
        std::string orden;
        for (const std::string& a : argv)
            orden += " " + a;
        throw std::runtime_error("certtool failed:" + orden + "\n" + r.output);
    }
}

std::string escribe(const std::string& ruta, const std::string& texto) {
    std::ofstream f(ruta, std::ios::trunc);
    f << texto;
    if (!f.flush())
        throw std::runtime_error("cannot write " + ruta);
    return ruta;
}

std::string clave(const std::string& ruta, int bits) {
    certtool({"--generate-privkey", "--key-type", "rsa", "--bits", std::to_string(bits), "--outfile", ruta});
    return ruta;
}

// The server's part of a template: its names and what its key may do.
std::string plantillaServidor(const std::string& nombres) {
    return nombres + "tls_www_server\nsigning_key\nencryption_key\n";
}

const std::string kLocalhost = "cn = \"localhost\"\ndns_name = \"localhost\"\nip_address = \"127.0.0.1\"\n";

} // namespace

CertificadosPrueba haceCertificadosPrueba(const std::string& carpeta) {
    const auto ruta = [&](const std::string& nombre) { return carpeta + "/" + nombre; };
    // One 2048-bit key for the CA and one for every server certificate but the weak one: each RSA
    // key costs a prime search, and what is judged is the certificate, not whose key it carries.
    const std::string claveCa = clave(ruta("ca.key"), 2048);
    const std::string claveServidor = clave(ruta("servidor.key"), 2048);
    const std::string claveDebil = clave(ruta("debil.key"), 1024);

    CertificadosPrueba c;
    c.ca = ruta("ca.pem");
    certtool({"--generate-self-signed", "--load-privkey", claveCa, "--outfile", c.ca, "--template",
              escribe(ruta("ca.tmpl"), "cn = \"Tarpelino CA de prueba\"\n"
                                       "expiration_days = 30\nca\ncert_signing_key\ncrl_signing_key\n")});

    const auto firmado = [&](const std::string& nombre, const std::string& plantilla,
                             const std::string& claveSuya, const std::vector<std::string>& extra = {}) {
        CertificadoYClave par{ruta(nombre + ".pem"), claveSuya};
        std::vector<std::string> argumentos{"--generate-certificate",
                                            "--load-privkey",
                                            claveSuya,
                                            "--load-ca-certificate",
                                            c.ca,
                                            "--load-ca-privkey",
                                            claveCa,
                                            "--outfile",
                                            par.certificado,
                                            "--template",
                                            escribe(ruta(nombre + ".tmpl"), plantilla)};
        argumentos.insert(argumentos.end(), extra.begin(), extra.end());
        certtool(argumentos);
        return par;
    };
    c.localhost =
        firmado("localhost", plantillaServidor(kLocalhost + "expiration_days = 30\n"), claveServidor);
    c.otroNombre = firmado("otro-nombre",
                           plantillaServidor("cn = \"otro.ejemplo\"\ndns_name = \"otro.ejemplo\"\n"
                                             "expiration_days = 30\n"),
                           claveServidor);
    c.caducado = firmado("caducado",
                         plantillaServidor(kLocalhost +
                                           "activation_date = \"2020-01-01 00:00:00\"\n"
                                           "expiration_date = \"" +
                                           kFechaCaducado + " 00:00:00\"\n"),
                         claveServidor);
    c.debil = firmado("debil", plantillaServidor(kLocalhost + "expiration_days = 30\n"), claveDebil,
                      {"--hash", "SHA1"});

    c.autofirmado = {ruta("autofirmado.pem"), claveServidor};
    certtool({"--generate-self-signed", "--load-privkey", claveServidor, "--outfile",
              c.autofirmado.certificado, "--template",
              escribe(ruta("autofirmado.tmpl"), plantillaServidor(kLocalhost + "expiration_days = 30\n"))});
    return c;
}

} // namespace pruebas
