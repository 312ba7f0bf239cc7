#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <linux/capability.h>
#include <optional>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// Whether process `pid`, one of this user's, is dumpable (PR_GET_DUMPABLE as the process itself
// would read it): none when that cannot be told here. Root may read any process's memory through
// CAP_SYS_PTRACE whatever the flag says; so the memory is read from a thread that has dropped that
// capability from its effective set (capabilities are per thread), where only the flag of a
// process of the same user decides. A kernel or security module that stops even that thread from
// reading a dumpable process (a dumpable child of this one is tried first) tells nothing.
inline std::optional<bool> volcable(pid_t pid) {
    const auto legible = [](pid_t objetivo) -> std::optional<bool> {
        unsigned long desde = 0;
        {
            std::ifstream mapas("/proc/" + std::to_string(objetivo) + "/maps");
            std::string linea;
            if (!std::getline(mapas, linea) || std::sscanf(linea.c_str(), "%lx-", &desde) != 1)
                return std::nullopt;
        }
        std::optional<bool> r;
        std::thread([&] {
            __user_cap_header_struct cabecera{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct datos[_LINUX_CAPABILITY_U32S_3] = {};
            if (::syscall(SYS_capget, &cabecera, datos) != 0)
                return;
            datos[CAP_TO_INDEX(CAP_SYS_PTRACE)].effective &= ~CAP_TO_MASK(CAP_SYS_PTRACE);
            if (::syscall(SYS_capset, &cabecera, datos) != 0)
                return;
            char byte = 0;
            iovec local{&byte, 1}, remoto{reinterpret_cast<void*>(desde), 1};
            const ssize_t n = ::process_vm_readv(objetivo, &local, 1, &remoto, 1, 0);
            if (n == 1 || errno == EPERM)
                r = n == 1;
        }).join();
        return r;
    };
    const pid_t control = ::fork();
    if (control == 0) {
        ::pause();
        ::_exit(0);
    }
    if (control < 0)
        return std::nullopt;
    const std::optional<bool> controlLegible = legible(control);
    ::kill(control, SIGKILL);
    ::waitpid(control, nullptr, 0);
    if (controlLegible != true)
        return std::nullopt;
    return legible(pid);
}
