// Measures how long a program takes from being started to the X server
// mapping its main window, from outside the program: the X server tells of
// every top-level window mapped (MapNotify on the root), and the first one
// with the given title ends the measurement. The program is then ended.
//
//   window-start TITLE PROGRAM [ARG...]
//
// Prints the milliseconds from just before the start to the map. Exit
// status: 0 measured, 1 no display, no start, the program ended or no such
// window within 30 s, 2 usage. Needs DISPLAY; no window manager (the title
// is read from the window itself, not from a frame).
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern char** environ;

namespace {

constexpr int kLimitMs = 30000;

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::string Property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr), &std::free);
    if (!reply) return std::string();
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

void End(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window-start TITLE PROGRAM [ARG...]\n");
        return 2;
    }
    const std::string title = argv[1];
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "window-start: cannot connect to the display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    // Checked, so the server is listening for us before the program starts.
    if (std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &mask)), &std::free);
        error) {
        std::fprintf(stderr, "window-start: cannot watch the root window\n");
        return 1;
    }
    const xcb_atom_t netName = Atom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");

    pid_t pid = 0;
    const double start = NowMs();
    if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
        std::fprintf(stderr, "window-start: cannot start %s\n", argv[2]);
        return 1;
    }
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    for (;;) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(raw, &std::free);
            if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) continue;
            const double mapped = NowMs();
            const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(raw)->window;
            std::string name = Property(c, window, netName, utf8);
            if (name.empty()) name = Property(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
            if (name != title) continue;
            std::printf("%.1f\n", mapped - start);
            End(pid);
            xcb_disconnect(c);
            return 0;
        }
        if (xcb_connection_has_error(c)) {
            std::fprintf(stderr, "window-start: the display went away\n");
            End(pid);
            return 1;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "window-start: %s ended before its window \"%s\" was mapped\n", argv[2],
                         title.c_str());
            return 1;
        }
        const double left = start + kLimitMs - NowMs();
        if (left <= 0) {
            std::fprintf(stderr, "window-start: no window \"%s\" within %d s\n", title.c_str(), kLimitMs / 1000);
            End(pid);
            return 1;
        }
        // Woken by the server's events; a look at the program now and then.
        ::poll(&fd, 1, static_cast<int>(std::min(left, 100.0)));
    }
}
