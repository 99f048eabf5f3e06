#include "platform/posix/system.h"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

namespace doredaviro::posix {

std::string ApplicationDirectory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return CurrentDirectory();
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = exe.find_last_of('/');
            return slash == 0 ? std::string("/") : exe.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string FindFirst(const std::string& path, int attributes) {
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};  // follows links: a dangling one is nothing

    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos && name.size() > 1) name.erase(0, slash + 1);

    if (S_ISDIR(st.st_mode)) return (attributes & vbDirectory) ? name : std::string();
    if (!S_ISREG(st.st_mode)) return {};
    if (name.front() == '.' && !(attributes & vbHidden)) return {};
    return name;
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
