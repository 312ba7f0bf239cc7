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
    EXPECT_EQ(
        csv.str(),
        "servidor,veredicto_2005,tds_2005,tls_2005,direccion_2005,puerto_2005,tiempo_ms_2005,descripcion_"
        "2005,"
        "veredicto_2008,tds_2008,tls_2008,direccion_2008,puerto_2008,tiempo_ms_2008,descripcion_2008\r\n"
        "\"SRV,1\",Conexión INCORRECTA.,,,,,7,\"Msg 18456: \"\"sa\"\" falló\r\ny otra línea\","
        "Conexión CORRECTA.,7.3,1.2,127.0.0.1,1433,1234,\r\n");
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

TEST(Salida, TableFitsTheTerminalWrappingLongDescriptionsAndNamesWithoutLosingText) {
    std::string larga;
    for (int i = 0; i < 40; ++i)
        larga += "palabra" + std::to_string(i) + " ";
    larga += "fin.\nSegunda línea del servidor.";
    const std::string servidor = "servidor-con-un-nombre-muy-largo-de-verdad.ejemplo.dominio.interno,1433";
    std::ostringstream tabla;
    lote::escribeTabla(tabla, filas(servidor, larga), 80);

    std::istringstream lineas(tabla.str());
    std::string linea, todo;
    int n = 0;
    while (std::getline(lineas, linea)) {
        ++n;
        std::size_t caracteres = 0;
        for (unsigned char c : linea)
            caracteres += (c & 0xC0) != 0x80;
        EXPECT_LE(caracteres, 80u) << linea;
        todo += linea + " ";
    }
    EXPECT_GT(n, 6);
    for (const char* parte : {"palabra0 ", "palabra39 ", "fin.", "Segunda línea del servidor.",
                              "Conexión CORRECTA.", "TLS", "127.0.0.1, 1433", "1,23 s", "7 ms"})
        EXPECT_NE(todo.find(parte), std::string::npos) << parte;

    // Not on a terminal: one line per pass, nothing cut.
    std::ostringstream ancha;
    lote::escribeTabla(ancha, filas(servidor, "corta"), 0);
    const std::string texto = ancha.str();
    EXPECT_NE(texto.find(servidor), std::string::npos);
    EXPECT_EQ(std::count(texto.begin(), texto.end(), '\n'), 3);
}
