#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

// A process and all its descendants, whatever they are (the login
// server and the logins it forks), found by their parent ids at the moment of the call.
std::vector<pid_t> arbolDeProcesos(pid_t raiz);

struct MemoriaArbol {
    // Distinct physical pages resident in any process of the tree: a library mapped by the window
    // and by every login process counts once, as it occupies the memory once. 0 without the
    // privilege to read page frame numbers.
    long unicaKb = 0;
    // The sum of the processes' PSS: shared pages split among all their users on the machine, so a
    // page shared only inside the tree also counts once; pages shared with processes outside the
    // tree (other engineers' Qt programs) count less than once.
    long pssKb = 0;
    int procesos = 0;
};

MemoriaArbol memoriaDelArbol(pid_t raiz);

// CPU seconds used so far by every descendant of this process, alive or reaped, whoever reaped it:
// a reaped process's time moves into its reaper's count of waited-for children, which is summed
// too. Kernel accounting in clock ticks, so read it over many rounds, not per round.
double cpuDeDescendientes();

// A child program with its standard input and output on pipes, killed on destruction.
class Hijo {
public:
    explicit Hijo(const std::vector<std::string>& argv);
    ~Hijo();
    Hijo(const Hijo&) = delete;
    Hijo& operator=(const Hijo&) = delete;

    pid_t pid() const { return pid_; }
    // The next line it writes, without its end; empty at end of output.
    std::string leeLinea();
    void escribeLinea(const std::string& linea);

private:
    pid_t pid_ = -1;
    int entrada_ = -1; // its standard input
    FILE* salida_ = nullptr;
};

} // namespace bench
