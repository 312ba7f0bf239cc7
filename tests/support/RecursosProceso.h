#pragma once

#include <dirent.h>
#include <filesystem>

// What a process holds, counted from /proc: for tests that an open leaves nothing behind.
inline int entradasDe(const char* directorio) {
    int n = 0;
    if (DIR* d = ::opendir(directorio)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

inline int descriptoresAbiertos() {
    return entradasDe("/proc/self/fd");
}
inline int hilosVivos() {
    return entradasDe("/proc/self/task");
}

// Files in the temporary folder ($TMPDIR, a private one in the tests).
inline int archivosTemporales() {
    int n = 0;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        ++n;
    return n;
}
