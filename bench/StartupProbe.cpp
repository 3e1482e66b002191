// bench_startprobe: the program's start-up seen from outside.
//
//   bench_startprobe PROGRAM RUNDIR [RUNS]
//
// Starts PROGRAM in RUNDIR on the current X display RUNS times (default 5)
// and measures, for each run, the time from the fork to the first frame on
// screen: the first moment the program's main window ("Gridscope", at least
// 700 pixels wide) is mapped and shows a drawn picture (many colours, where
// an undrawn window has one or two). Each run is then killed. Prints one
// line per run and the median, in milliseconds.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

using Stopwatch = std::chrono::steady_clock;

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// The viewable main window of the program, or 0.
Window FindMainWindow(Display* display, Window parent) {
    Window root = 0, up = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XFetchName(display, children[i], &name) && name) {
            const bool named = std::strncmp(name, "Gridscope", 9) == 0;
            XFree(name);
            if (named && XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.width >= 700)
                found = children[i];
        }
        if (!found) found = FindMainWindow(display, children[i]);
    }
    if (children) XFree(children);
    return found;
}

// True when the window shows a drawn frame: many distinct colours.
bool Drawn(Display* display, Window window) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, window, &a)) return false;
    XImage* image = XGetImage(display, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) return false;
    std::set<unsigned long> colours;
    for (int y = 0; y < a.height && colours.size() < 16; y += 7)
        for (int x = 0; x < a.width && colours.size() < 16; x += 7) colours.insert(XGetPixel(image, x, y));
    XDestroyImage(image);
    return colours.size() >= 16;
}

double OneRun(Display* display, const char* program, const char* folder) {
    const auto t0 = Stopwatch::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder) != 0) _exit(127);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    double ms = -1;
    while (Stopwatch::now() - t0 < std::chrono::seconds(20)) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return -1;  // ended before drawing
        const Window w = FindMainWindow(display, DefaultRootWindow(display));
        if (w && Drawn(display, w)) {
            ms = std::chrono::duration<double, std::milli>(Stopwatch::now() - t0).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM RUNDIR [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreErrors);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = OneRun(display, argv[1], argv[2]);
        if (ms < 0) {
            std::fprintf(stderr, "run %d: no frame on screen\n", i + 1);
            return 1;
        }
        std::printf("run %d: %.1f ms\n", i + 1, ms);
        times.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::sort(times.begin(), times.end());
    std::printf("startup_outside_median_ms %.1f\n", times[times.size() / 2]);
    XCloseDisplay(display);
    return 0;
}
