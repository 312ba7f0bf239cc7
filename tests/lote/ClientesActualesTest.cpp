// Today's drivers beside the window's two: ODBC 17 logs in wherever TLS 1.2
// is offered, and ODBC 18 judges the server's certificate as tedious, a
// current client that shares no code with this one, judges it.
#include "data_access/ConexionFreeTds.h"
#include "lote/Contrasena.h"
#include "lote/Lote.h"
#include "tests/stand_in/server.h"
#include "tests/stand_in/tedious_client.h"
#include "tests/support/CertificadosPrueba.h"
#include "tests/support/EntornoTemporal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace {

const std::string kPassword = "Secr3t!";

struct Caso {
    const char* nombre;
    const pruebas::CertificadoYClave* certificado; // none: the stand-in's own, as SQL Server makes one
    const char* causa;                             // of the odbc18 pass; nullptr: it logs in
    const char* dicen[2];                          // in its description, and in tedious' error
};

} // namespace

TEST(ClientesActuales, Odbc18RefusesTheCertificatesTediousRefusesAndSendsThemNoLogin) {
    const std::string carpeta = ::testing::TempDir() + "certificados-clientes-actuales/";
    std::filesystem::create_directories(carpeta);
    const pruebas::CertificadosPrueba c = pruebas::haceCertificadosPrueba(carpeta);
    const Caso casos[] = {
        {"signed by the CA for the name typed", &c.localhost, nullptr, {"", ""}},
        {"for another name", &c.otroNombre, "certificado_nombre", {"otro.ejemplo", "does not match"}},
        {"expired", &c.caducado, "certificado_caducado", {pruebas::kFechaCaducado, "expired"}},
        {"self-signed", &c.autofirmado, "certificado_no_confiable", {"autofirmado", "self-signed"}},
        {"SQL Server's own",
         nullptr,
         "certificado_no_confiable",
         {"SSL_Self_Signed_Fallback", "self-signed"}},
        {"SHA-1 over a 1024-bit key", &c.debil, "certificado_debil", {"SHA-1", ""}},
    };
    std::vector<std::unique_ptr<stand_in::Server>> servidores;
    std::string lista;
    for (const Caso& caso : casos) {
        stand_in::Config config;
        config.logins = {{"sa", kPassword}};
        config.encryption = stand_in::Encryption::LoginOnly;
        if (caso.certificado) {
            config.certificateFile = caso.certificado->certificado;
            config.privateKeyFile = caso.certificado->clave;
        }
        servidores.push_back(std::make_unique<stand_in::Server>(config));
        servidores.back()->start();
        lista += "localhost," + std::to_string(servidores.back()->port()) + "\n";
    }

    EntornoTemporal entorno;
    entorno.fija(lote::kVariableContrasena, kPassword);
    std::istringstream in(lista);
    std::ostringstream out, err;
    lote::Entorno e(in, out, err);
    e.fabrica = [](int segundos, const std::string& archivoCa) -> probe::FabricaConexion {
        return [segundos, archivoCa] {
            return data_access::nuevaConexion(std::chrono::seconds(segundos), false, nullptr, archivoCa);
        };
    };
    e.contrasenaDelEntorno = lote::tomaContrasenaDelEntorno;
    EXPECT_EQ(lote::ejecutaLote({"--usuario", "sa", "--generaciones", "todas", "--ca", c.ca, "--paralelo",
                                 "3", "--formato", "jsonl", "-"},
                                e),
              lote::kAlgunFallo)
        << err.str();
    std::map<std::string, nlohmann::json> filas;
    std::istringstream lineas(out.str());
    for (std::string linea; std::getline(lineas, linea);) {
        auto fila = nlohmann::json::parse(linea);
        filas[fila["servidor"]] = fila;
    }

    const bool conTedious = stand_in::testing::tediousInstalled();
    for (std::size_t i = 0; i < std::size(casos); ++i) {
        const Caso& caso = casos[i];
        SCOPED_TRACE(caso.nombre);
        const nlohmann::json& fila = filas["localhost," + std::to_string(servidores[i]->port())];
        EXPECT_EQ(fila["odbc17"]["correcta"], true) << fila["odbc17"]["descripcion"];
        EXPECT_EQ(fila["odbc17"]["tls"], "1.2");
        const nlohmann::json& odbc18 = fila["odbc18"];
        EXPECT_EQ(odbc18["correcta"], caso.causa == nullptr) << odbc18["descripcion"];
        if (caso.causa) {
            EXPECT_EQ(odbc18["causa"], caso.causa);
            EXPECT_NE(odbc18["descripcion"].get<std::string>().find(caso.dicen[0]), std::string::npos)
                << odbc18["descripcion"];
        } else {
            EXPECT_EQ(odbc18["cifrado"], "sesion");
        }
        // A refused certificate gets no password: the other three generations' logins, and no fourth.
        EXPECT_EQ(servidores[i]->logins().size(), caso.causa ? 3u : 4u);

        if (!conTedious)
            continue;
        const auto tedious = stand_in::testing::tediousChecksCertificate("localhost", servidores[i]->port(),
                                                                         c.ca, "sa", kPassword);
        EXPECT_EQ(tedious.connected, caso.causa == nullptr) << tedious.output;
        EXPECT_NE(tedious.error.find(caso.dicen[1]), std::string::npos) << tedious.output;
    }
    if (!conTedious) {
        if (std::getenv("CI"))
            FAIL() << "tedious missing: run scripts/install-deps.sh test";
        GTEST_SKIP() << "tedious is not installed (npm could not reach its registry)";
    }
}
