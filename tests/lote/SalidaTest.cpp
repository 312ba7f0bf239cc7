#include "lote/Salida.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

namespace {

using namespace std::chrono_literals;

probe::ResultadoPasada correcta(const std::string& tds, std::uint16_t tls) {
    probe::ResultadoPasada p;
    p.correcta = true;
    data_access::DatosApertura d;
    d.abierta = true;
    d.resumen.versionTds = tds;
    d.resumen.direccion = "127.0.0.1";
    d.resumen.puerto = 1433;
    d.resumen.loginCifrado = tls != 0;
    d.resumen.versionTls = tls;
    d.duracion = 1234ms;
    p.datos = d;
    return p;
}

probe::ResultadoPasada incorrecta(const std::string& descripcion) {
    probe::ResultadoPasada p;
    p.descripcion = descripcion;
    data_access::DatosApertura d;
    d.causa = login_shared::Causa::InicioSesion;
    d.errorServidor = 18456;
    d.versionServidor = "16.0.4135";
    d.duracion = 7ms;
    p.datos = d;
    return p;
}

std::vector<lote::FilaServidor> filas(const std::string& servidor, const std::string& descripcion) {
    return {{{"lista.txt", 1, servidor}, {incorrecta(descripcion), correcta("7.3", 0x0303)}}};
}

} // namespace

TEST(Salida, CsvQuotesFieldsWithACommaAQuoteOrALineBreakAndEndsLinesWithCrLf) {
    std::ostringstream csv;
    lote::escribeCsv(csv, filas("SRV,1", "Msg 18456: \"sa\" falló\r\ny otra línea"));
    std::string cabecera = "servidor";
    for (const char* g : {"2005", "2008"})
        for (const char* campo : {"veredicto", "correcta", "causa", "error_servidor", "tds", "tls", "cifrado",
                                  "suite", "version_servidor", "direccion", "puerto", "tiempo_ms",
                                  "certificado_sujeto", "certificado_emisor", "certificado_autofirmado",
                                  "certificado_caduca", "certificado_bits", "descripcion"})
            cabecera += std::string(",") + campo + "_" + g;
    EXPECT_EQ(
        csv.str(),
        cabecera + "\r\n" +
            "\"SRV,1\",Conexión INCORRECTA.,false,inicio_sesion,18456,,,,,16.0.4135,,,7,,,,,,\"Msg 18456: "
            "\"\"sa\"\" "
            "falló\r\ny otra línea\","
            "Conexión CORRECTA.,true,,,7.3,1.2,inicio_sesion,,,127.0.0.1,1433,1234,,,,,,\r\n");
}

// As a Spanish Excel opens it: a UTF-8 byte order mark (else "ConexiÃ³n"), ";" between fields, CRLF.
TEST(Salida, CsvExcelHasAByteOrderMarkSemicolonsAndQuotesAFieldWithOne) {
    std::ostringstream csv;
    const auto escritor = lote::nuevoEscritor(lote::Formato::CsvExcel, csv, 0);
    escritor->empieza();
    escritor->fila(filas("SRV,1", "Inicio de sesión fallido; año")[0]);
    escritor->termina();
    const std::string texto = csv.str();
    const std::string cabecera = "\xEF\xBB\xBFservidor;veredicto_2005;correcta_2005;causa_2005;";
    EXPECT_EQ(texto.rfind(cabecera, 0), 0u) << texto;
    const std::size_t fila = texto.find("\r\n") + 2;
    EXPECT_EQ(
        texto.substr(fila),
        "SRV,1;Conexión INCORRECTA.;false;inicio_sesion;18456;;;;;16.0.4135;;;7;;;;;;\"Inicio de sesión "
        "fallido; año\";Conexión CORRECTA.;true;;;7.3;1.2;inicio_sesion;;;127.0.0.1;1433;1234;;;;;;\r\n");
}

// A spreadsheet runs a cell that starts with one of these as a formula.
TEST(Salida, CsvCellsThatASpreadsheetWouldRunStartWithAQuote) {
    for (const std::string servidor : {"-cmd", "=1+2", "+x", "@SUM(A1)"}) {
        std::ostringstream csv;
        lote::escribeCsv(csv, filas(servidor, "-2+3 " + servidor));
        const std::string texto = csv.str();
        const std::string fila = texto.substr(texto.find("\r\n") + 2);
        EXPECT_EQ(fila.rfind("'" + servidor + ",", 0), 0u) << fila;
        EXPECT_NE(fila.find(",'-2+3 " + servidor + ","), std::string::npos) << fila;
    }
}

TEST(Salida, JsonIsOneArrayOfObjectsAndEscapesEveryControlCharacter) {
    std::string raro = "comillas \" barra \\ salto\n tab\t";
    for (char c = 1; c < 0x20; ++c)
        raro += c;
    raro += "\x7f ñ";
    std::ostringstream json;
    lote::escribeJson(json, filas("SRV\"1", raro));

    for (unsigned char c : json.str())
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == ' ') << "byte de control sin escapar: " << int(c);
    const auto leido = nlohmann::json::parse(json.str());
    ASSERT_TRUE(leido.is_array());
    ASSERT_EQ(leido.size(), 1u);
    EXPECT_EQ(leido[0]["servidor"], "SRV\"1");
    EXPECT_EQ(leido[0]["2005"]["veredicto"], "Conexión INCORRECTA.");
    EXPECT_EQ(leido[0]["2005"]["descripcion"], raro);
    EXPECT_TRUE(leido[0]["2005"]["tds"].is_null());
    EXPECT_EQ(leido[0]["2005"]["tiempo_ms"], 7);
    EXPECT_EQ(leido[0]["2005"]["correcta"], false);
    EXPECT_EQ(leido[0]["2005"]["causa"], "inicio_sesion");
    EXPECT_EQ(leido[0]["2005"]["error_servidor"], 18456);
    EXPECT_TRUE(leido[0]["2008"]["error_servidor"].is_null());
    EXPECT_EQ(leido[0]["2005"]["version_servidor"], "16.0.4135");
    EXPECT_EQ(leido[0]["2008"]["correcta"], true);
    EXPECT_TRUE(leido[0]["2008"]["causa"].is_null());
    EXPECT_EQ(leido[0]["2008"]["cifrado"], "inicio_sesion");
    EXPECT_EQ(leido[0]["2008"]["veredicto"], "Conexión CORRECTA.");
    EXPECT_EQ(leido[0]["2008"]["tds"], "7.3");
    EXPECT_EQ(leido[0]["2008"]["tls"], "1.2");
    EXPECT_EQ(leido[0]["2008"]["direccion"], "127.0.0.1");
    EXPECT_EQ(leido[0]["2008"]["puerto"], 1433);
    EXPECT_TRUE(leido[0]["2008"]["descripcion"].is_null());
}

TEST(Salida, JsonOfNoServersIsAnEmptyArray) {
    std::ostringstream json;
    lote::escribeJson(json, {});
    EXPECT_EQ(nlohmann::json::parse(json.str()), nlohmann::json::array());
}

// For people and for grep: within the terminal, no blank line inside a row,
// and every line of a row names its server and generation.
TEST(Salida, TableFitsTheTerminalAndEveryLineOfARowNamesItsServer) {
    std::string larga;
    for (int i = 0; i < 40; ++i)
        larga += "palabra" + std::to_string(i) + " ";
    larga += "fin.   \n\n  \nSegunda línea del servidor.   ";
    const std::string servidor = "srv-ventas-01.ejemplo.interno,1433";
    for (const std::size_t anchura : {0u, 200u, 120u, 80u, 60u, 40u}) {
        SCOPED_TRACE(anchura);
        std::ostringstream tabla;
        lote::escribeTabla(tabla, filas(servidor, larga), anchura);
        std::istringstream lineas(tabla.str());
        std::string linea, todo;
        std::getline(lineas, linea);
        EXPECT_EQ(linea.rfind("Servidor", 0), 0u) << linea;
        // Cut to fit, a name keeps its start and its port.
        const std::string inicio = servidor.substr(0, 4);
        int n2005 = 0, n2008 = 0;
        while (std::getline(lineas, linea)) {
            std::size_t caracteres = 0;
            for (unsigned char c : linea)
                caracteres += (c & 0xC0) != 0x80;
            if (anchura != 0) {
                EXPECT_LE(caracteres, anchura) << linea;
            }
            EXPECT_NE(linea.find_first_not_of(' '), std::string::npos) << "línea en blanco";
            EXPECT_EQ(linea.rfind(anchura >= 120 || anchura == 0 ? servidor : inicio, 0), 0u) << linea;
            n2005 += linea.find(" 2005 ") != std::string::npos;
            n2008 += linea.find(" 2008 ") != std::string::npos;
            todo += linea + " ";
        }
        EXPECT_GT(n2005, 1);
        EXPECT_GE(n2008, 1);
        for (const char* parte :
             {"palabra0 ", "palabra39 ", "fin.", "Segunda", "servidor.", "Conexión CORRECTA.",
              "Conexión INCORRECTA.", "127.0.0.1, 1433", "1,23 s", "7 ms"})
            EXPECT_NE(todo.find(parte), std::string::npos) << parte;
    }
}
