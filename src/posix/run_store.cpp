#include "posix/run_store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace doredaviro::posix {

namespace {

std::atomic<bool> warned{false};

std::string Fail(const std::string& what, int error) {
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "Zivev+Korvu: no run record kept: %s: %s\n", what.c_str(),
                     strerror(error));
    }
    return {};
}

// Each missing folder of `path` is made private; those there already are left as they are.
bool MakeFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void DropOld(const std::string& folder, int keep) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> runs;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("run-", 0) == 0 && name.size() > 8 &&
            name.compare(name.size() - 4, 4, ".tsv") == 0) {
            runs.push_back(name);
        }
    }
    closedir(dir);
    if (runs.size() <= static_cast<std::size_t>(keep)) return;
    // The names begin with their run's start, so they sort by age.
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < runs.size(); ++i) {
        unlink((folder + "/" + runs[i]).c_str());
    }
}

}  // namespace

std::string RunRecordFolder() {
    const char* state = getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/doredaviro";
    const char* home = getenv("HOME");
    if (!home || home[0] != '/') return {};
    return std::string(home) + "/.local/state/doredaviro";
}

std::string ChooseRunRecordPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return Fail("no home folder", ENOENT);
    if (!MakeFolders(folder)) return Fail(folder, errno);
    if (access(folder.c_str(), W_OK) != 0) return Fail(folder, errno);
    std::string path = folder + "/" + name;
    // Another copy's run that began in the same millisecond keeps its record too.
    if (access(path.c_str(), F_OK) == 0) {
        path.insert(path.size() - 4, "-" + std::to_string(getpid()));
    }
    return path;
}

std::string SaveRunRecord(const std::string& folder, const std::string& name,
                          const std::string& text, int keep) {
    std::string path = ChooseRunRecordPath(folder, name);
    return !path.empty() && WriteRunRecord(folder, path, text, keep) ? path : std::string();
}

bool WriteRunRecord(const std::string& folder, const std::string& path, const std::string& text,
                    int keep) {
    const std::string temporary = folder + "/.writing-" + std::to_string(getpid());
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return !Fail(temporary, errno).empty();
    const bool written = WriteAll(fd, text) && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = written ? errno : error;
        unlink(temporary.c_str());
        return !Fail(path, renameError).empty();
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    DropOld(folder, keep);
    return true;
}

}  // namespace doredaviro::posix
