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

// A private folder of this user's: the runtime folder, or one made in /tmp.
std::string LockDirectory() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    struct stat st = {};
    if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == getuid()) {
        return runtime;
    }
    const std::string dir = "/tmp/doredaviro-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // Someone else's folder or a link planted there must not decide for us.
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        return {};
    }
    return dir;
}

bool held = false;

// ":0" and ":0.0" are the same display session.
std::string DisplayKey() {
    const char* display = getenv("DISPLAY");
    if (!display || !*display) display = getenv("WAYLAND_DISPLAY");
    if (!display || !*display) return "nodisplay";
    std::string key = display;
    const auto colon = key.rfind(':');
    const auto dot = key.rfind('.');
    if (colon != std::string::npos && dot != std::string::npos && dot > colon) key.erase(dot);
    for (char& c : key) {
        if (c == '/') c = '_';
    }
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
