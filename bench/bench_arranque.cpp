// Process start to the window shown, for the tool and for a bare Qt window,
// measured from outside the program so that neither needs a hook: under an X
// server (Xvfb, no window manager) this process watches the root window for
// the new top-level window (CreateNotify, MapNotify) and takes "shown" as the
// first damage to that window once mapped: the moment its first frame is drawn.
//     DISPLAY=:n bench_arranque [benchmark flags]
#include "bench/comun.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace bench;

namespace {

Display* gX = nullptr;
int gEventoDamage = 0;
bool gTraza = false;

long pidDeVentana(Window w) {
    static const Atom netWmPid = XInternAtom(gX, "_NET_WM_PID", False);
    Atom tipo;
    int formato;
    unsigned long n, resto;
    unsigned char* datos = nullptr;
    long pid = -1;
    if (XGetWindowProperty(gX, w, netWmPid, 0, 1, False, XA_CARDINAL, &tipo, &formato, &n, &resto, &datos) ==
            Success &&
        datos && n == 1)
        pid = long(*reinterpret_cast<unsigned long*>(datos));
    if (datos)
        XFree(datos);
    return pid;
}

// Seconds from the spawn to the first frame drawn in the program's mapped top-level window.
double hastaMostrada(const char* programa) {
    XSync(gX, False);
    while (XPending(gX)) {
        XEvent e;
        XNextEvent(gX, &e);
    }
    const auto inicio = Reloj::now();
    pid_t pid;
    char* argv[] = {const_cast<char*>(programa), nullptr};
    if (posix_spawn(&pid, programa, nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error(std::string("cannot start ") + programa);

    std::map<Window, Damage> danos;
    std::set<Window> mapeadas;
    double mostrada = -1;
    // Traced, it goes on reading for a while to show what follows.
    while (mostrada < 0 || gTraza) {
        if (!XPending(gX)) {
            pollfd p{ConnectionNumber(gX), POLLIN, 0};
            if (::poll(&p, 1, mostrada < 0 ? 10000 : 300) <= 0)
                break;
        }
        XEvent e;
        XNextEvent(gX, &e);
        const double t = segundosDesde(inicio) * 1e3;
        if (e.type == CreateNotify && !e.xcreatewindow.override_redirect) {
            // Watched from creation, before it can be mapped and drawn.
            danos[e.xcreatewindow.window] =
                XDamageCreate(gX, e.xcreatewindow.window, XDamageReportRawRectangles);
        } else if (e.type == MapNotify && danos.count(e.xmap.window) && pidDeVentana(e.xmap.window) == pid) {
            mapeadas.insert(e.xmap.window);
            if (gTraza)
                std::fprintf(stderr, "%8.2f ms map %lx\n", t, e.xmap.window);
        } else if (e.type == gEventoDamage + XDamageNotify) {
            const auto& d = reinterpret_cast<const XDamageNotifyEvent&>(e);
            if (gTraza) {
                // A pixel of what is on the screen now: the frame, or nothing drawn yet.
                unsigned long pixel = 0;
                if (XImage* im = XGetImage(gX, d.drawable, 5, 5, 1, 1, AllPlanes, ZPixmap)) {
                    pixel = XGetPixel(im, 0, 0);
                    XDestroyImage(im);
                }
                std::fprintf(stderr, "%8.2f ms damage %lx %dx%d+%d+%d mapped=%d pixel %06lx\n", t, d.drawable,
                             d.area.width, d.area.height, d.area.x, d.area.y, int(mapeadas.count(d.drawable)),
                             pixel);
            }
            if (mapeadas.count(d.drawable) && mostrada < 0)
                mostrada = t / 1e3;
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // The server frees each damage object with its window, which went with the program.
    XSync(gX, False);
    if (mostrada < 0)
        throw std::runtime_error(std::string(programa) + " showed no window");
    return mostrada;
}

void BM_Arranque(benchmark::State& state) {
    comparaIntercalado(
        state, [] { hastaMostrada(BENCH_TARPELINO); }, [] { hastaMostrada(BENCH_QT_DESNUDO); }, 2);
}
BENCHMARK(BM_Arranque)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    gX = XOpenDisplay(nullptr);
    int error;
    if (!gX || !XDamageQueryExtension(gX, &gEventoDamage, &error)) {
        std::fprintf(stderr, "bench_arranque: needs an X server with DAMAGE (DISPLAY)\n");
        return 2;
    }
    XSelectInput(gX, DefaultRootWindow(gX), SubstructureNotifyMask);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    gTraza = std::getenv("BENCH_TRAZA") != nullptr;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    XCloseDisplay(gX);
    return 0;
}
