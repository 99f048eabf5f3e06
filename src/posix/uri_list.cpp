#include "posix/uri_list.h"

#include <limits.h>
#include <strings.h>
#include <unistd.h>

namespace doredaviro::posix {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool IsThisHost(const std::string& host) {
    if (host.empty() || strcasecmp(host.c_str(), "localhost") == 0) return true;
    char name[HOST_NAME_MAX + 1] = {};
    return gethostname(name, sizeof name - 1) == 0 && strcasecmp(host.c_str(), name) == 0;
}

// The path of one file URL, or empty when the line is not a local file.
std::string LocalPath(const std::string& line) {
    if (line.size() < 6 || strncasecmp(line.c_str(), "file:", 5) != 0) return {};
    std::string rest = line.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        const auto slash = rest.find('/', 2);
        if (slash == std::string::npos || !IsThisHost(PercentDecode(rest.substr(2, slash - 2)))) {
            return {};
        }
        rest.erase(0, slash);
    }
    if (rest.empty() || rest[0] != '/') return {};
    // '?' and '#' are kept: they mean nothing in a file URL, and a source that
    // leaves them unescaped still means the file of that name.
    std::string path = PercentDecode(rest);
    if (path.find('\0') != std::string::npos) return {};
    return path;
}

}  // namespace

std::vector<std::string> LocalPathsFromUriList(const std::string& uriList) {
    std::vector<std::string> paths;
    std::size_t pos = 0;
    while (pos < uriList.size()) {
        auto end = uriList.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = uriList.size();
        const std::string line = uriList.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line[0] == '#') continue;
        std::string path = LocalPath(line);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

std::vector<std::string> LocalPathsFromCopiedFiles(const std::string& copiedFiles) {
    const auto end = copiedFiles.find_first_of("\r\n");
    const std::string action = copiedFiles.substr(0, end);
    if (end == std::string::npos || (action != "copy" && action != "cut")) return {};
    return LocalPathsFromUriList(copiedFiles.substr(end + 1));
}

}  // namespace doredaviro::posix
