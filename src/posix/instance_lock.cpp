#include "posix/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doredaviro::posix {

namespace {

// A folder only this user can enter: theirs, and closed to everyone else. Another
// user's folder, or one others may write to, could hold a socket of theirs that
// would receive the paths, or a lock that would turn the single copy off.
bool IsPrivate(const std::string& dir) {
    struct stat st = {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0;
}

// `dir`, made private when missing; empty when it is not ours.
std::string PrivateFolder(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsPrivate(dir) ? dir : std::string();
}

// The runtime folder when it is private; else one made in /tmp; and when someone
// else has taken that name, one in this user's cache folder. Every start of the
// same user looks in the same order, so they meet in the same place.
std::string LockDirectory() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivate(runtime)) return runtime;
    const std::string tmp = "/tmp/doredaviro-" + std::to_string(getuid());
    if (!PrivateFolder(tmp).empty()) return tmp;
    std::string cache;
    if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        cache = xdg;
    } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
        cache = std::string(home) + "/.cache";
    }
    if (cache.empty()) return {};
    mkdir(cache.c_str(), 0700);
    const std::string mine = PrivateFolder(cache + "/doredaviro");
    if (!mine.empty()) {
        static bool told = false;
        if (!told) {
            told = true;
            fprintf(stderr, "Zivev+Korvu: %s is not this user's private folder; using %s\n",
                    tmp.c_str(), mine.c_str());
        }
    }
    return mine;
}

bool held = false;

// One name for one display: ":1", ":1.0", "unix:1", "localhost:1", "127.0.0.1:1"
// and this machine's own name before the colon all reach the same server.
// Another host's display stays its own.
std::string DisplayKey() {
    const char* display = getenv("DISPLAY");
    if (!display || !*display) display = getenv("WAYLAND_DISPLAY");
    if (!display || !*display) return "nodisplay";
    std::string key = display;
    const auto colon = key.rfind(':');
    if (colon != std::string::npos) {
        const auto dot = key.find('.', colon);
        if (dot != std::string::npos) key.erase(dot);
        std::string host = key.substr(0, colon);
        if (const auto slash = host.rfind('/'); slash != std::string::npos) {
            host.erase(0, slash + 1);  // a launchd-style socket path names no other host
        }
        char self[256] = {};
        gethostname(self, sizeof self - 1);
        if (host.empty() || host == "unix" || host == "localhost" || host == "127.0.0.1" ||
            host == "::1" || host == self) {
            key.erase(0, colon);
        }
    }
    for (char& c : key) {
        if (c == '/') c = '_';
    }
    // Bounded, so the socket's name stays short whatever the variable holds.
    if (key.size() > 64) key.resize(64);
    return key;
}

}  // namespace

std::string InstanceLockPath() {
    const std::string dir = LockDirectory();
    if (dir.empty()) return {};
    return dir + "/Zivev+Korvu-" + DisplayKey() + ".lock";
}

bool AnotherInstanceRuns() {
    // Without a lock the program still runs, as one would expect of it, but the
    // user is told why a second copy could start.
    const std::string path = InstanceLockPath();
    if (path.empty()) {
        fprintf(stderr,
                "Zivev+Korvu: no private folder for the single-copy lock "
                "(XDG_RUNTIME_DIR or /tmp/doredaviro-%u): running without it\n",
                static_cast<unsigned>(getuid()));
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fprintf(stderr,
                "Zivev+Korvu: cannot open the single-copy lock %s: %s; running without it\n",
                path.c_str(), strerror(errno));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        held = true;  // until the process ends
        return false;
    }
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return true;
    fprintf(stderr, "Zivev+Korvu: cannot take the single-copy lock %s: %s; running without it\n",
            path.c_str(), strerror(error));
    return false;
}

bool HoldsInstanceLock() { return held; }

}  // namespace doredaviro::posix
