// Starts a program and reports the time from its spawn until the X server maps
// its main window (MapNotify on the root window). The program finds the spawn
// time in BENCH_T0_NS, so a probe can report its own figures against the same
// moment.
//
// usage: map_time [--end] LABEL PROGRAM [ARGUMENT...]
//   prints "sample map.LABEL MS" once the window maps; with --end the program
//   is then ended (SIGTERM), otherwise it is left to exit by itself. A dialog
//   that maps first (a start-up message) is a failure, not a sample.
//
// A probe that exits by itself must not take its window away before it has
// been examined: BENCH_MAP_FD names a pipe that reaches end-of-file once it
// has, and bench::FirstPaint waits for that before the probe exits.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

long long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// The first 32-bit value of a window's property, or 0 where it has none.
uint32_t Property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1), nullptr);
    uint32_t value = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4) {
        value = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    return value;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "map_time: %s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char* argv[]) {
    int arg = 1;
    bool end = false;
    if (arg < argc && std::strcmp(argv[arg], "--end") == 0) {
        end = true;
        ++arg;
    }
    if (argc - arg < 2) {
        std::fprintf(stderr, "usage: %s [--end] LABEL PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const char* label = argv[arg];
    char** command = argv + arg + 1;

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) Fail("cannot open the display");
    const int fd = xcb_get_file_descriptor(c);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);  // not the program's to keep
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (xcb_generic_error_t* error = xcb_request_check(
            c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        Fail("cannot watch the root window");
    }
    const xcb_atom_t pidAtom = Atom(c, "_NET_WM_PID");
    const xcb_atom_t typeAtom = Atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t normalType = Atom(c, "_NET_WM_WINDOW_TYPE_NORMAL");

    int examined[2];
    if (pipe(examined) != 0) Fail("no pipe");
    fcntl(examined[1], F_SETFD, FD_CLOEXEC);
    setenv("BENCH_MAP_FD", std::to_string(examined[0]).c_str(), 1);

    const long long t0 = NowNs();
    setenv("BENCH_T0_NS", std::to_string(t0).c_str(), 1);
    pid_t child = 0;
    if (posix_spawn(&child, command[0], nullptr, nullptr, command, environ) != 0) {
        std::perror(command[0]);
        return 127;
    }
    close(examined[0]);

    // A program that never maps must not outlive the bench.
    const long long deadline = t0 + 20 * 1000000000LL;
    int status = 0;
    const char* failure = nullptr;
    for (;;) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            if (xcb_connection_has_error(c)) Fail("lost the display");
            if (waitpid(child, &status, WNOHANG) == child) {
                std::fprintf(stderr, "map_time: %s ended before its window mapped\n", command[0]);
                return 1;
            }
            if (NowNs() > deadline) {
                failure = "no window mapped within 20 s";
                break;
            }
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 50);
            continue;
        }
        const long long mapped = NowNs();
        const bool isMap = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
        std::free(event);
        // Only the spawned program's windows count, not another client's.
        if (!isMap || Property(c, window, pidAtom, XCB_ATOM_CARDINAL) != uint32_t(child)) continue;
        // A message box shown at start-up has the program's pid too.
        if (Property(c, window, typeAtom, XCB_ATOM_ATOM) != normalType) {
            failure = "a dialog mapped before the main window";
            break;
        }
        std::printf("sample map.%s %.3f\n", label, static_cast<double>(mapped - t0) / 1e6);
        std::fflush(stdout);
        break;
    }
    close(examined[1]);
    xcb_disconnect(c);
    if (failure) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        Fail(failure);
    }
    if (end) kill(child, SIGTERM);
    if (waitpid(child, &status, 0) != child) Fail("lost the program");
    if (end && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) return 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    std::fprintf(stderr, "map_time: %s ended by signal %d\n", command[0], WTERMSIG(status));
    return 1;
}
