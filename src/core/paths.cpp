#include "paths.h"

#include "utf.h"

namespace doredaviro {

namespace {

bool IsSlash(char c, char separator) { return c == separator || (separator == '\\' && c == '/'); }
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:" of "C:\dir", or "\\server\share" of a UNC folder; empty when it has neither.
std::string WindowsRoot(const std::string& folder) {
    if (folder.size() >= 2 && IsDriveLetter(folder[0]) && folder[1] == ':')
        return folder.substr(0, 2);
    if (folder.size() >= 2 && IsSlash(folder[0], '\\') && IsSlash(folder[1], '\\')) {
        const auto server = folder.find_first_of("\\/", 2);
        if (server == std::string::npos) return folder;
        const auto share = folder.find_first_of("\\/", server + 1);
        return share == std::string::npos ? folder : folder.substr(0, share);
    }
    return {};
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& folder, char separator) {
    if (path.empty() || folder.empty()) return path;
    if (separator != '\\') {
        return path[0] == separator ? path : folder + separator + path;
    }
    const bool drive = path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':';
    if (drive && path.size() >= 3 && IsSlash(path[2], separator)) return path;  // C:\x
    if (path.size() >= 2 && IsSlash(path[0], separator) && IsSlash(path[1], separator)) {
        return path;  // \\server\share\x
    }
    if (IsSlash(path[0], separator)) return WindowsRoot(folder) + path;  // \x
    if (drive) return path.substr(0, 2) + separator + path.substr(2);    // C:x
    return folder + separator + path;
}

std::string ShownPath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    char32_t cp = 0;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t n = utf::Decode(path, i, &cp, true);
        if (n == 0) {
            cp = 0xFFFD;
            i += 1;
        } else {
            i += n;
        }
        // Marks the fonts that draw the list carry (the control-picture symbols are in none of
        // Debian's usual ones).
        if (cp == '\n' || cp == '\r') {
            cp = 0x21B5;
        } else if (cp == '\t') {
            cp = 0x2192;
        } else if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        utf::Append(out, cp);
    }
    return out;
}

}  // namespace doredaviro
