// Drops files on an X window the way a file manager does (XDND, text/uri-list), so that the
// program under Wine receives them through Wine's own drop handling.
// usage: xdnd_drop WINDOW ROOT_X ROOT_Y PATH...   (exit 0 once the target has finished)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <sys/select.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string FileUri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            uri.push_back(static_cast<char>(c));
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

void Send(Display* dpy, Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.display = dpy;
    ev.xclient.window = target;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = l0;
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(dpy, target, False, NoEventMask, &ev);
    XFlush(dpy);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s WINDOW ROOT_X ROOT_Y PATH...\n", argv[0]);
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "no display\n");
        return 2;
    }
    const Window target = std::strtoul(argv[1], nullptr, 0);
    const long x = std::atol(argv[2]), y = std::atol(argv[3]);
    std::string uris;
    for (int i = 4; i < argc; ++i) uris += FileUri(argv[i]) + "\r\n";

    const Window source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(dpy, "XdndSelection", False);
    const Atom enter = XInternAtom(dpy, "XdndEnter", False);
    const Atom position = XInternAtom(dpy, "XdndPosition", False);
    const Atom status = XInternAtom(dpy, "XdndStatus", False);
    const Atom drop = XInternAtom(dpy, "XdndDrop", False);
    const Atom finished = XInternAtom(dpy, "XdndFinished", False);
    const Atom copy = XInternAtom(dpy, "XdndActionCopy", False);
    const Atom uriList = XInternAtom(dpy, "text/uri-list", False);
    XSetSelectionOwner(dpy, selection, source, CurrentTime);

    Send(dpy, target, enter, static_cast<long>(source), 5L << 24, static_cast<long>(uriList), 0, 0);
    Send(dpy, target, position, static_cast<long>(source), 0, (x << 16) | y, CurrentTime,
         static_cast<long>(copy));

    bool dropped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!XPending(dpy)) {
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(ConnectionNumber(dpy), &fds);
            timeval tv{0, 100000};
            select(ConnectionNumber(dpy) + 1, &fds, nullptr, nullptr, &tv);
            continue;
        }
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == SelectionRequest) {
            XSelectionRequestEvent& req = ev.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.display = dpy;
            reply.xselection.requestor = req.requestor;
            reply.xselection.selection = req.selection;
            reply.xselection.target = req.target;
            reply.xselection.time = req.time;
            reply.xselection.property = None;
            if (req.target == uriList && req.property != None) {
                XChangeProperty(dpy, req.requestor, req.property, uriList, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(uris.data()),
                                static_cast<int>(uris.size()));
                reply.xselection.property = req.property;
            }
            XSendEvent(dpy, req.requestor, False, NoEventMask, &reply);
            XFlush(dpy);
        } else if (ev.type == ClientMessage && ev.xclient.message_type == status && !dropped) {
            if (!(ev.xclient.data.l[1] & 1)) {
                std::fprintf(stderr, "the window refused the drop\n");
                return 1;
            }
            Send(dpy, target, drop, static_cast<long>(source), 0, CurrentTime, 0, 0);
            dropped = true;
        } else if (ev.type == ClientMessage && ev.xclient.message_type == finished) {
            XCloseDisplay(dpy);
            return 0;
        }
    }
    std::fprintf(stderr, dropped ? "no XdndFinished\n" : "no XdndStatus\n");
    return 1;
}
