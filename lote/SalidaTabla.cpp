#include "login_shared/TextoUtf8.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <array>
#include <string>

namespace lote {

namespace {

constexpr std::size_t kColumnas = 8;
using Linea = std::array<std::string, kColumnas>;

const Linea kCabecera{"Servidor", "Versión", "Veredicto", "TDS", "TLS", "Dirección", "Tiempo", "Descripción"};
constexpr std::size_t kServidor = 0;
constexpr std::size_t kDescripcion = kColumnas - 1;
// Narrower than this, a wrapped description is no longer readable.
constexpr std::size_t kMinimoAjustable = 30;
constexpr char kSeparador[] = "  ";

// Characters, not bytes: UTF-8 continuation bytes take no room.
std::size_t ancho(const std::string& texto) {
    std::size_t n = 0;
    for (unsigned char c : texto)
        n += (c & 0xC0) != 0x80;
    return n;
}

// The byte where `texto`'s character number `caracteres` starts.
std::size_t byteDelCaracter(const std::string& texto, std::size_t caracteres) {
    std::size_t i = 0;
    for (std::size_t n = 0; i < texto.size(); ++i) {
        if ((static_cast<unsigned char>(texto[i]) & 0xC0) != 0x80 && n++ == caracteres)
            return i;
    }
    return texto.size();
}

// Lines of at most `limite` characters, cut after a blank where there is one; 0: lines as they are.
std::vector<std::string> ajusta(const std::string& texto, std::size_t limite) {
    std::vector<std::string> lineas;
    std::size_t inicio = 0;
    while (inicio <= texto.size()) {
        const std::size_t salto = texto.find('\n', inicio);
        std::string resto =
            texto.substr(inicio, salto == std::string::npos ? std::string::npos : salto - inicio);
        while (limite != 0 && ancho(resto) > limite) {
            std::size_t corte = byteDelCaracter(resto, limite);
            const std::size_t blanco = resto.rfind(' ', corte);
            if (blanco != std::string::npos && blanco > 0)
                corte = blanco + 1;
            lineas.push_back(resto.substr(0, corte));
            resto.erase(0, corte);
        }
        lineas.push_back(resto);
        if (salto == std::string::npos)
            break;
        inicio = salto + 1;
    }
    return lineas;
}

std::string tiempo(const std::optional<long long>& ms) {
    if (!ms)
        return {};
    if (*ms < 1000)
        return std::to_string(*ms) + " ms";
    const std::string centesimas = std::to_string(*ms % 1000 / 10);
    return std::to_string(*ms / 1000) + "," + (centesimas.size() < 2 ? "0" : "") + centesimas + " s";
}

std::vector<Linea> lineasDe(const FilaServidor& fila) {
    std::vector<Linea> lineas;
    for (std::size_t i = 0; i < fila.pasadas.size(); ++i) {
        const CamposPasada c = campos(fila.pasadas[i]);
        std::string direccion = c.direccion;
        if (c.puerto)
            direccion += ", " + std::to_string(*c.puerto);
        lineas.push_back({i == 0 ? data_access::visible(fila.entrada.servidor) : std::string(),
                          probe::kGeneraciones[i].version, c.veredicto, c.tds, c.tls, direccion,
                          tiempo(c.tiempoMs), c.descripcion});
    }
    return lineas;
}

} // namespace

void escribeTabla(std::ostream& salida, const std::vector<FilaServidor>& filas, std::size_t anchura) {
    std::vector<Linea> lineas{kCabecera};
    for (const FilaServidor& fila : filas)
        for (Linea& l : lineasDe(fila))
            lineas.push_back(std::move(l));

    std::array<std::size_t, kColumnas> anchos{};
    for (const Linea& l : lineas)
        for (std::size_t c = 0; c < kColumnas; ++c)
            for (const std::string& parte : ajusta(l[c], 0))
                anchos[c] = std::max(anchos[c], ancho(parte));
    std::size_t fijas = 0;
    for (std::size_t c = 0; c < kDescripcion; ++c)
        fijas += anchos[c] + ancho(kSeparador);
    // Too narrow for every column side by side: the server's name goes above
    // its passes and each description below its pass, both as wide as the terminal.
    const bool apilada = anchura != 0 && fijas + kMinimoAjustable > anchura;
    if (anchura != 0 && !apilada)
        anchos[kDescripcion] = std::min(anchos[kDescripcion], anchura - fijas);
    const std::size_t primera = apilada ? kServidor + 1 : kServidor;
    const std::size_t ultima = apilada ? kDescripcion : kColumnas;
    const std::string sangria(ancho(kSeparador) * 2, ' ');

    for (const Linea& l : lineas) {
        if (apilada && !l[kServidor].empty() && &l != &lineas.front())
            for (const std::string& parte : ajusta(l[kServidor], anchura))
                salida << parte << '\n';
        std::array<std::vector<std::string>, kColumnas> celdas;
        std::size_t alto = 1;
        for (std::size_t c = primera; c < ultima; ++c) {
            celdas[c] = ajusta(l[c], anchura != 0 && c == kDescripcion ? anchos[c] : 0);
            alto = std::max(alto, celdas[c].size());
        }
        for (std::size_t r = 0; r < alto; ++r) {
            std::string texto = apilada ? sangria : std::string();
            for (std::size_t c = primera; c < ultima; ++c) {
                const std::string parte = r < celdas[c].size() ? celdas[c][r] : std::string();
                texto += parte;
                if (c + 1 < ultima)
                    texto += std::string(anchos[c] - std::min(anchos[c], ancho(parte)), ' ') + kSeparador;
            }
            while (!texto.empty() && texto.back() == ' ')
                texto.pop_back();
            salida << texto << '\n';
        }
        if (apilada && !l[kDescripcion].empty() && &l != &lineas.front())
            for (const std::string& parte :
                 ajusta(l[kDescripcion], anchura - std::min(anchura - 1, sangria.size() * 2)))
                salida << sangria << sangria << parte << '\n';
    }
}

} // namespace lote
