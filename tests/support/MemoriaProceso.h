#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/types.h>

// AddressSanitizer's runtime keeps freed memory in quarantine (256 MB), moves
// stack frames to its own heap and needs descriptors and threads of its own:
// memory, copy and limit figures mean nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kConSanitizador = true;
#else
constexpr bool kConSanitizador = false;
#endif

// Hands `alLeer` each writable mapping of process `pid` (the heap, the stacks,
// the libraries' data), read through /proc, until it returns false. Returns
// the bytes read: 0 when that memory cannot be read (not root, or the process
// is gone).
template <class F> std::size_t recorreMemoriaEscribible(pid_t pid, F&& alLeer) {
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream mapas(dir + "/maps");
    std::ifstream mem(dir + "/mem", std::ios::binary);
    std::size_t leidos = 0;
    for (std::string linea; mapas && mem && std::getline(mapas, linea);) {
        unsigned long desde = 0, hasta = 0;
        char permisos[5] = {};
        // A sanitizer's shadow memory is terabytes of reserved address space, not data.
        if (std::sscanf(linea.c_str(), "%lx-%lx %4s", &desde, &hasta, permisos) != 3 || permisos[0] != 'r' ||
            permisos[1] != 'w' || hasta - desde > (1ul << 30))
            continue;
        std::string mapa(hasta - desde, '\0');
        mem.clear();
        mem.seekg(std::streamoff(desde));
        mem.read(mapa.data(), std::streamsize(mapa.size()));
        mapa.resize(std::size_t(mem.gcount()));
        leidos += mapa.size();
        if (!alLeer(mapa))
            break;
    }
    return leidos;
}

// How many times `forma` appears in `texto`.
inline int vecesEn(const std::string& texto, const std::string& forma) {
    int n = 0;
    for (auto en = texto.find(forma); en != std::string::npos; en = texto.find(forma, en + 1))
        ++n;
    return n;
}
