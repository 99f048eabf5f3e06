#include "win_names.h"

#include <vector>

#include "fsutil.h"

namespace korvu {
namespace {

std::string upper_ascii(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return s;
}

// CON, NUL, COM1 and the like stay the device with any extension ("nul.txt"),
// and with spaces before it.
bool reserved_device(const std::string& part) {
    std::string base = upper_ascii(part.substr(0, part.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
        if (base == name) return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        return base[3] >= '0' && base[3] <= '9';
    }
    // COM and LPT with a superscript 1, 2 or 3 (UTF-8 C2 B9, C2 B2, C2 B3).
    if (base.size() == 5 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        return base[3] == '\xC2' && (base[4] == '\xB9' || base[4] == '\xB2' || base[4] == '\xB3');
    }
    return false;
}

}  // namespace

std::optional<std::string> windows_name_problem(const std::string& path) {
    if (path.empty()) return "it has no name";
    if (path[0] == '/' || path[0] == '\\') return "it is an absolute path";
    // "C:\x", "C:x" (relative to the drive's current folder) and "name:stream".
    if (path.find(':') != std::string::npos) return "it names a drive or a data stream (':')";
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find_first_of("/\\", at);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    for (const std::string& part : parts) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return "it leaves its folder ('..')";
        for (unsigned char c : part) {
            if (c < 0x20 || std::string("<>\"|?*").find(static_cast<char>(c)) != std::string::npos)
                return "it has a character Windows does not allow in names";
        }
        // The system drops these, so the name would become another one.
        if (part.back() == '.' || part.back() == ' ')
            return "a name in it ends in a dot or a space";
        if (reserved_device(part)) return "it names a device (" + quote(part) + ")";
    }
    return std::nullopt;
}

}  // namespace korvu
