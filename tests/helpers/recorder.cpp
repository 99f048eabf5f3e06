// Stands in for the archiver: appends what it was started with to the file
// named by RECORDER_LOG, one record per start, so tests can check it byte for
// byte. Each field is "name=<hex bytes>\n"; a record ends with "end\n".
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string OpenDescriptors() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return "?";
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || atoi(entry->d_name) == own) continue;
        list += std::string(list.empty() ? "" : ",") + entry->d_name;
    }
    closedir(dir);
    return list;
}

// Sorted, each entry ended by a NUL byte, to compare with `sort -z`.
std::string Environment() {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
    std::sort(entries.begin(), entries.end());
    std::string all;
    for (const std::string& entry : entries) all += entry + '\0';
    return all;
}

}  // namespace

int main(int argc, char* argv[]) {
    const char* log = getenv("RECORDER_LOG");
    if (!log) return 3;
    // Read before opening the log, which would show up as one more.
    const std::string fds = OpenDescriptors();
    char cwd[4096] = {};
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';

    std::string record = "argc=" + std::to_string(argc) + "\n";
    for (int i = 1; i < argc; ++i) record += "arg=" + Hex(argv[i]) + "\n";
    record += "cwd=" + Hex(cwd) + "\n";
    record += "fds=" + fds + "\n";
    record += "pid=" + std::to_string(getpid()) + "\n";
    record += "env=" + Hex(Environment()) + "\n";
    record += "session_leader=" + std::to_string(getsid(0) == getpid()) + "\n";
    record += "end\n";

    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 4;
    flock(fd, LOCK_EX);
    const bool ok = write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
    close(fd);
    if (const char* linger = getenv("RECORDER_LINGER_MS")) usleep(1000u * atoi(linger));
    return ok ? 0 : 5;
}
