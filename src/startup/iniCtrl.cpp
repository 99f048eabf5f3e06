#include "startup/iniCtrl.h"

#include <cstring>

#include "platform/private_profile.h"

namespace doredaviro::iniCtrl {

std::string GetIniString(const std::string& section, const std::string& key,
                         const std::string& file) {
    // A value is at most 199 bytes of the settings file's own text. The Windows
    // reader hands it over as UTF-8, in which one byte of the ANSI code page can
    // take three, so its buffer leaves room for that.
#ifdef _WIN32
    constexpr unsigned kBufferSize = 3 * 199 + 1;
#else
    constexpr unsigned kBufferSize = 200;
#endif
    char buffer[kBufferSize];
    std::memset(buffer, ' ', sizeof buffer);
    ReadProfileString(section, key, "", buffer, kBufferSize, file);
    const void* nul = std::memchr(buffer, '\0', sizeof buffer);
    const auto length = nul ? static_cast<const char*>(nul) - buffer : 0;
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace doredaviro::iniCtrl
