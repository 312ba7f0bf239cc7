#include "login_shared/Proveedor.h"
#include "login_shared/TextoUtf8.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <algorithm>
#include <array>
#include <string>

namespace lote {

namespace {

constexpr std::size_t kColumnas = 8;
using Linea = std::array<std::string, kColumnas>;

const Linea kCabecera{"Servidor", "Versión", "Veredicto", "TDS", "TLS", "Dirección", "Tiempo", "Descripción"};
constexpr std::size_t kServidor = 0;
constexpr std::size_t kVersion = 1;
constexpr std::size_t kDescripcion = kColumnas - 1;
// Narrower than this, a wrapped description is no longer readable.
constexpr std::size_t kMinimoAjustable = 30;
// A server's name is never shortened below this.
constexpr std::size_t kMinimoServidor = 16;
constexpr char kSeparador[] = "  ";
constexpr std::size_t kAnchoSeparador = 2;

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

std::string sinBlancosAlFinal(std::string texto) {
    while (!texto.empty() && texto.back() == ' ')
        texto.pop_back();
    return texto;
}

// Lines of at most `limite` characters, cut after a blank where there is one,
// with no blank at either end and no line that is only blanks; 0: the lines as they are.
std::vector<std::string> ajusta(const std::string& texto, std::size_t limite) {
    std::vector<std::string> lineas;
    const auto anade = [&lineas](std::string parte) {
        parte = sinBlancosAlFinal(std::move(parte));
        if (!parte.empty())
            lineas.push_back(std::move(parte));
    };
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
            anade(resto.substr(0, corte));
            resto.erase(0, std::min(resto.find_first_not_of(' ', corte), resto.size()));
        }
        anade(std::move(resto));
        if (salto == std::string::npos)
            break;
        inicio = salto + 1;
    }
    return lineas;
}

// At most `limite` characters: a name too long keeps its start and its end (the port).
std::string abrevia(const std::string& texto, std::size_t limite) {
    const std::size_t n = ancho(texto);
    if (n <= limite)
        return texto;
    if (limite < 2)
        return texto.substr(0, byteDelCaracter(texto, limite));
    const std::size_t fin = (limite - 1) / 2;
    const std::size_t inicio = limite - 1 - fin;
    return texto.substr(0, byteDelCaracter(texto, inicio)) + "…" +
           texto.substr(byteDelCaracter(texto, n - fin));
}

std::string rellena(const std::string& texto, std::size_t anchura) {
    return texto + std::string(anchura - std::min(anchura, ancho(texto)), ' ');
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
        std::string descripcion = c.descripcion;
        // The server's TLS versions open its first line.
        if (i == 0 && fila.tls)
            descripcion =
                "TLS aceptadas: " +
                (fila.tls->aceptadas.empty() ? "ninguna. " + fila.tls->motivo : listaTls(*fila.tls)) +
                (descripcion.empty() ? "" : "\n" + descripcion);
        lineas.push_back({login_shared::visible(fila.entrada.servidor), generacionDe(fila, i).version,
                          c.veredicto, c.tds, c.tls, direccion, tiempo(c.tiempoMs), descripcion});
    }
    return lineas;
}

// Columns side by side; the server's name and the generation start every line
// of a pass, its description's too, so that grep shows whose line it is.
void escribeColumnas(std::ostream& salida, const std::vector<Linea>& lineas,
                     std::array<std::size_t, kColumnas> anchos, std::size_t anchoDescripcion) {
    for (const Linea& l : lineas) {
        std::vector<std::string> descripcion = ajusta(l[kDescripcion], anchoDescripcion);
        if (descripcion.empty())
            descripcion.emplace_back();
        for (std::size_t r = 0; r < descripcion.size(); ++r) {
            std::string texto;
            for (std::size_t c = 0; c < kDescripcion; ++c)
                texto += rellena(c <= kVersion || r == 0 ? l[c] : std::string(), anchos[c]) + kSeparador;
            salida << sinBlancosAlFinal(texto + descripcion[r]) << '\n';
        }
    }
}

// Too narrow for every column side by side: each line starts with the server
// (shortened to fit) and the generation, and what the columns held follows,
// wrapped, the description below it.
void escribeApilada(std::ostream& salida, const std::vector<Linea>& lineas, std::size_t anchura) {
    std::size_t anchoServidor = ancho(kCabecera[kServidor]);
    for (const Linea& l : lineas)
        anchoServidor = std::max(anchoServidor, ancho(l[kServidor]));
    const std::size_t anchoVersion = ancho(kCabecera[kVersion]);
    const std::size_t resto = anchoVersion + 2 * kAnchoSeparador;
    // A long name is shortened rather than leave little room for the rest:
    // at most three tenths of the line, and never less than its start and port.
    const std::size_t minimo = std::min(kMinimoAjustable, anchura / 2);
    anchoServidor = std::min({anchoServidor, std::max<std::size_t>(anchura * 3 / 10, kMinimoServidor),
                              anchura > resto + minimo + 8 ? anchura - resto - minimo : 8});
    const std::size_t prefijo = anchoServidor + resto;
    const std::size_t anchoTexto = anchura > prefijo ? anchura - prefijo : 1;
    for (const Linea& l : lineas) {
        const bool cabecera = &l == &lineas.front();
        // The columns' values as whole pieces, as many to a line as fit.
        std::vector<std::string> piezas{cabecera ? "Resultado" : l[2]};
        for (std::size_t c = 3; c < kDescripcion && !cabecera; ++c)
            if (!l[c].empty())
                piezas.push_back((c == 3 ? "TDS " : c == 4 ? "TLS " : "") + l[c]);
        std::vector<std::string> partes;
        for (const std::string& pieza : piezas) {
            if (!partes.empty() && ancho(partes.back()) + kAnchoSeparador + ancho(pieza) <= anchoTexto)
                partes.back() += kSeparador + pieza;
            else
                for (std::string& parte : ajusta(pieza, anchoTexto))
                    partes.push_back(std::move(parte));
        }
        if (!cabecera)
            for (std::string& parte : ajusta(l[kDescripcion], anchoTexto))
                partes.push_back(std::move(parte));
        const std::string inicio = rellena(abrevia(l[kServidor], anchoServidor), anchoServidor) + kSeparador +
                                   rellena(l[kVersion], anchoVersion) + kSeparador;
        for (const std::string& parte : partes)
            salida << sinBlancosAlFinal(inicio + parte) << '\n';
    }
}

class EscritorTabla final : public Escritor {
public:
    EscritorTabla(std::ostream& salida, std::size_t anchura) : salida_(salida), anchura_(anchura) {}

    void fila(const FilaServidor& fila) override {
        for (Linea& l : lineasDe(fila))
            filas_.emplace_back(fila.indice, std::move(l));
    }

    void termina() override {
        if (filas_.empty())
            return;
        // In the list's order, whatever order the servers ended in.
        std::stable_sort(filas_.begin(), filas_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Linea> lineas{kCabecera};
        for (auto& [indice, l] : filas_)
            lineas.push_back(std::move(l));
        std::array<std::size_t, kColumnas> anchos{};
        for (const Linea& l : lineas)
            for (std::size_t c = 0; c < kColumnas; ++c)
                for (const std::string& parte : ajusta(l[c], 0))
                    anchos[c] = std::max(anchos[c], ancho(parte));
        std::size_t fijas = 0;
        for (std::size_t c = 0; c < kDescripcion; ++c)
            fijas += anchos[c] + kAnchoSeparador;
        if (anchura_ == 0)
            escribeColumnas(salida_, lineas, anchos, 0);
        else if (fijas + kMinimoAjustable <= anchura_)
            escribeColumnas(salida_, lineas, anchos, anchura_ - fijas);
        else
            escribeApilada(salida_, lineas, anchura_);
        salida_.flush();
    }

private:
    std::ostream& salida_;
    std::size_t anchura_;
    std::vector<std::pair<std::size_t, Linea>> filas_;
};

} // namespace

std::unique_ptr<Escritor> nuevoEscritorTabla(std::ostream& salida, std::size_t anchura) {
    return std::make_unique<EscritorTabla>(salida, anchura);
}

void escribeTabla(std::ostream& salida, const std::vector<FilaServidor>& filas, std::size_t anchura) {
    EscritorTabla e(salida, anchura);
    for (const FilaServidor& f : filas)
        e.fila(f);
    e.termina();
}

} // namespace lote
