#include "posix/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "core/display.h"

namespace doredaviro::posix {

namespace {

// A folder of this user's that no one else may write to. Another user's folder, or one others
// may write to, could hold a socket of theirs that would receive the paths, or a lock that
// would turn the single copy off.
bool IsOurs(const std::string& dir, struct stat* st) {
    return !dir.empty() && dir[0] == '/' && lstat(dir.c_str(), st) == 0 && S_ISDIR(st->st_mode) &&
           st->st_uid == getuid() && (st->st_mode & 022) == 0;
}

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value && value[0] == '/' ? value : "";
}

std::string CacheFolder() {
    std::string cache = Env("XDG_CACHE_HOME");
    if (cache.empty() && !Env("HOME").empty()) cache = Env("HOME") + "/.cache";
    if (cache.empty()) return {};
    mkdir(cache.c_str(), 0700);
    const std::string mine = cache + "/doredaviro";
    mkdir(mine.c_str(), 0700);
    return mine;
}

std::string RuntimeFolder() {
    struct stat st = {};
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (IsOurs(runtime, &st)) return runtime;
    return "/run/user/" + std::to_string(getuid());
}

std::string Display() {
    const char* display = getenv("DISPLAY");
    if (!display || !*display) display = getenv("WAYLAND_DISPLAY");
    return display ? display : "";
}

std::string ThisMachine() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host = name;
    for (char& c : host) {
        if (c == '/') c = '_';
    }
    return host.substr(0, 64);
}

std::vector<std::string> held;
std::vector<int> heldFds;

}  // namespace

std::vector<std::string> InstanceLockPaths() {
    const std::string display = DisplayKey(Display());
    std::vector<std::string> paths;
    struct stat first = {}, st = {};
    // A home may be shared with other machines, each with displays of the same names.
    const std::string cache = CacheFolder();
    if (IsOurs(cache, &first)) {
        paths.push_back(cache + "/Zivev+Korvu-" + ThisMachine() + "-" + display + ".lock");
    }
    const std::string runtime = RuntimeFolder();
    if (IsOurs(runtime, &st) &&
        (paths.empty() || st.st_dev != first.st_dev || st.st_ino != first.st_ino)) {
        paths.push_back(runtime + "/Zivev+Korvu-" + display + ".lock");
    }
    if (paths.empty()) {
        // Another user can take this name first, or take it away: then no lock at all.
        const std::string tmp = "/tmp/doredaviro-" + std::to_string(getuid());
        mkdir(tmp.c_str(), 0700);
        if (IsOurs(tmp, &st)) paths.push_back(tmp + "/Zivev+Korvu-" + display + ".lock");
    }
    return paths;
}

bool AnotherInstanceRuns() {
    // Without a lock the program still runs, as one would expect of it, but the user is told
    // why a second copy could start.
    const std::vector<std::string> paths = InstanceLockPaths();
    std::vector<std::pair<std::string, int>> taken;
    for (const std::string& path : paths) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            fprintf(stderr, "Zivev+Korvu: cannot open the single-copy lock %s: %s\n", path.c_str(),
                    strerror(errno));
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            taken.emplace_back(path, fd);
            continue;
        }
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            for (const auto& [name, mine] : taken) close(mine);
            return true;
        }
        fprintf(stderr, "Zivev+Korvu: cannot take the single-copy lock %s: %s\n", path.c_str(),
                strerror(error));
    }
    if (paths.empty()) {
        fprintf(stderr,
                "Zivev+Korvu: no folder of this user's for the single-copy lock (~/.cache, "
                "XDG_RUNTIME_DIR or /tmp/doredaviro-%u): running without it\n",
                static_cast<unsigned>(getuid()));
    } else if (taken.empty()) {
        fprintf(stderr, "Zivev+Korvu: no single-copy lock: running without it\n");
    }
    // Held until the process ends.
    held.clear();
    heldFds.clear();
    for (const auto& [name, fd] : taken) {
        held.push_back(name);
        heldFds.push_back(fd);
    }
    return false;
}

void ReleaseInstanceLocks() {
    for (const int fd : heldFds) close(fd);
    heldFds.clear();
    held.clear();
}

const std::vector<std::string>& HeldInstanceLocks() { return held; }

}  // namespace doredaviro::posix
