#include "startup/iniCtrl.h"

#include <cstring>

#include "platform/private_profile.h"

namespace doredaviro::iniCtrl {

std::string GetIniString(const std::string& section, const std::string& key,
                         const std::string& file) {
    constexpr unsigned kBufferSize = 200;
    char buffer[kBufferSize];
    std::memset(buffer, ' ', sizeof buffer);
    ReadProfileString(section, key, "", buffer, kBufferSize, file);
    const void* nul = std::memchr(buffer, '\0', sizeof buffer);
    const auto length = nul ? static_cast<const char*>(nul) - buffer : 0;
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace doredaviro::iniCtrl
