#include "login_shared/Proveedor.h"
#include "login_shared/TextoUtf8.h"
#include "lote/Campos.h"
#include "lote/Salida.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

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
void escribeEnColumnas(std::ostream& salida, const Linea& l, const std::array<std::size_t, kColumnas>& anchos,
                       std::size_t anchoDescripcion) {
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

// Too narrow for every column side by side: each line starts with the server
// (shortened to fit) and the generation, and what the columns held follows,
// wrapped, the description below it.
class Apilada {
public:
    // `anchoServidor`: the widest server's name, the header's included.
    Apilada(std::size_t anchura, std::size_t anchoServidor) : anchoVersion_(ancho(kCabecera[kVersion])) {
        const std::size_t resto = anchoVersion_ + 2 * kAnchoSeparador;
        // A long name is shortened rather than leave little room for the rest:
        // at most three tenths of the line, and never less than its start and port.
        const std::size_t minimo = std::min(kMinimoAjustable, anchura / 2);
        anchoServidor_ = std::min({anchoServidor, std::max<std::size_t>(anchura * 3 / 10, kMinimoServidor),
                                   anchura > resto + minimo + 8 ? anchura - resto - minimo : 8});
        const std::size_t prefijo = anchoServidor_ + resto;
        anchoTexto_ = anchura > prefijo ? anchura - prefijo : 1;
    }

    void escribe(std::ostream& salida, const Linea& l, bool cabecera) const {
        // The columns' values as whole pieces, as many to a line as fit.
        std::vector<std::string> piezas{cabecera ? "Resultado" : l[2]};
        for (std::size_t c = 3; c < kDescripcion && !cabecera; ++c)
            if (!l[c].empty())
                piezas.push_back((c == 3 ? "TDS " : c == 4 ? "TLS " : "") + l[c]);
        std::vector<std::string> partes;
        for (const std::string& pieza : piezas) {
            if (!partes.empty() && ancho(partes.back()) + kAnchoSeparador + ancho(pieza) <= anchoTexto_)
                partes.back() += kSeparador + pieza;
            else
                for (std::string& parte : ajusta(pieza, anchoTexto_))
                    partes.push_back(std::move(parte));
        }
        if (!cabecera)
            for (std::string& parte : ajusta(l[kDescripcion], anchoTexto_))
                partes.push_back(std::move(parte));
        const std::string inicio = rellena(abrevia(l[kServidor], anchoServidor_), anchoServidor_) +
                                   kSeparador + rellena(l[kVersion], anchoVersion_) + kSeparador;
        for (const std::string& parte : partes)
            salida << sinBlancosAlFinal(inicio + parte) << '\n';
    }

private:
    std::size_t anchoVersion_;
    std::size_t anchoServidor_ = 0;
    std::size_t anchoTexto_ = 1;
};

// The table's lines until it is drawn, off the heap: in a temporary file that no
// other process can open (TMPDIR, else /tmp), removed as it is made; in memory
// only when no such file can be had or written. A server's lines come back by
// its place in the list.
class Deposito {
public:
    Deposito() {
        const char* tmpdir = std::getenv("TMPDIR");
        const std::string carpeta = tmpdir && *tmpdir ? tmpdir : "/tmp";
        fd_ = ::open(carpeta.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            std::string plantilla = carpeta + "/tarpelino-lote-XXXXXX";
            fd_ = ::mkostemp(plantilla.data(), O_CLOEXEC);
            if (fd_ >= 0)
                ::unlink(plantilla.c_str());
        }
    }
    ~Deposito() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Deposito(const Deposito&) = delete;
    Deposito& operator=(const Deposito&) = delete;

    void guarda(std::size_t indice, const std::vector<Linea>& lineas) {
        const std::size_t desde = escritos_ + pendiente_.size();
        for (const Linea& l : lineas)
            for (const std::string& campo : l) {
                const std::uint32_t n = std::uint32_t(campo.size());
                pendiente_.append(reinterpret_cast<const char*>(&n), sizeof n);
                pendiente_ += campo;
            }
        registros_.push_back({indice, desde, escritos_ + pendiente_.size() - desde, lineas.size()});
        if (pendiente_.size() >= kBloque)
            vuelca();
    }

    bool vacio() const { return registros_.empty(); }

    // Every server's lines, in the list's order, whatever order they came in.
    template <typename F> void recorre(F&& cadaLinea) {
        vuelca();
        std::sort(registros_.begin(), registros_.end(),
                  [](const Registro& a, const Registro& b) { return a.indice < b.indice; });
        std::string bytes;
        for (const Registro& r : registros_) {
            if (!lee(r, bytes))
                continue;
            std::size_t i = 0;
            for (std::size_t n = 0; n < r.lineas; ++n) {
                Linea l;
                for (std::string& campo : l) {
                    std::uint32_t largo = 0;
                    std::memcpy(&largo, bytes.data() + i, sizeof largo);
                    campo.assign(bytes, i + sizeof largo, largo);
                    i += sizeof largo + largo;
                }
                cadaLinea(l);
            }
        }
    }

private:
    // Written in pieces of this size.
    static constexpr std::size_t kBloque = 1 << 20;

    struct Registro {
        std::size_t indice;
        std::size_t desde; // where its bytes start, in the file and then in `enMemoria_`
        std::size_t bytes;
        std::size_t lineas;
    };

    void vuelca() {
        std::size_t hecho = 0;
        while (fd_ >= 0 && hecho < pendiente_.size()) {
            const ssize_t n = ::write(fd_, pendiente_.data() + hecho, pendiente_.size() - hecho);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // No room left there: what it holds comes back into memory, and the rest stays there.
                pasaAMemoria();
                break;
            }
            hecho += std::size_t(n);
            escritos_ += std::size_t(n);
        }
        if (fd_ < 0) {
            enMemoria_.append(pendiente_, hecho);
            escritos_ = enMemoria_.size();
        }
        pendiente_.clear();
    }

    void pasaAMemoria() {
        enMemoria_.resize(escritos_);
        for (std::size_t leido = 0; leido < escritos_;) {
            const ssize_t n = ::pread(fd_, enMemoria_.data() + leido, escritos_ - leido, off_t(leido));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            leido += std::size_t(n);
        }
        ::close(fd_);
        fd_ = -1;
    }

    bool lee(const Registro& r, std::string& bytes) const {
        if (fd_ < 0) {
            if (r.desde + r.bytes > enMemoria_.size())
                return false;
            bytes.assign(enMemoria_, r.desde, r.bytes);
            return true;
        }
        bytes.resize(r.bytes);
        for (std::size_t leido = 0; leido < r.bytes;) {
            const ssize_t n = ::pread(fd_, bytes.data() + leido, r.bytes - leido, off_t(r.desde + leido));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            leido += std::size_t(n);
        }
        return true;
    }

    int fd_ = -1;
    std::size_t escritos_ = 0; // bytes in the file, or in `enMemoria_` without one
    std::string pendiente_;
    std::string enMemoria_;
    std::vector<Registro> registros_;
};

class EscritorTabla final : public Escritor {
public:
    EscritorTabla(std::ostream& salida, std::size_t anchura) : salida_(salida), anchura_(anchura) {
        mide(kCabecera);
    }

    void fila(const FilaServidor& fila) override {
        const std::vector<Linea> lineas = lineasDe(fila);
        for (const Linea& l : lineas)
            mide(l);
        deposito_.guarda(fila.indice, lineas);
    }

    void termina() override {
        if (deposito_.vacio())
            return;
        std::size_t fijas = 0;
        for (std::size_t c = 0; c < kDescripcion; ++c)
            fijas += anchos_[c] + kAnchoSeparador;
        if (anchura_ == 0 || fijas + kMinimoAjustable <= anchura_) {
            const std::size_t anchoDescripcion = anchura_ == 0 ? 0 : anchura_ - fijas;
            escribeEnColumnas(salida_, kCabecera, anchos_, anchoDescripcion);
            deposito_.recorre(
                [&](const Linea& l) { escribeEnColumnas(salida_, l, anchos_, anchoDescripcion); });
        } else {
            const Apilada apilada(anchura_, anchos_[kServidor]);
            apilada.escribe(salida_, kCabecera, true);
            deposito_.recorre([&](const Linea& l) { apilada.escribe(salida_, l, false); });
        }
        salida_.flush();
    }

private:
    // The widest line of each column so far: all the drawing needs of the rows before it reads them back.
    void mide(const Linea& l) {
        for (std::size_t c = 0; c < kColumnas; ++c)
            for (const std::string& parte : ajusta(l[c], 0))
                anchos_[c] = std::max(anchos_[c], ancho(parte));
    }

    std::ostream& salida_;
    std::size_t anchura_;
    std::array<std::size_t, kColumnas> anchos_{};
    Deposito deposito_;
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
