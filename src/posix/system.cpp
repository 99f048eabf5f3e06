#include "posix/system.h"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace doredaviro::posix {

std::string ProgramFolder(const char* self) {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = readlink(self, buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = exe.find_last_of('/');
            if (slash == std::string::npos) return {};
            return slash == 0 ? std::string("/") : exe.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string FindFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    struct stat st = {};
    // Follows links: a dangling one is nothing, one to a folder is a folder.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace doredaviro::posix
