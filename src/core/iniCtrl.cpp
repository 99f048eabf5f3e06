#include "iniCtrl.h"

#include <cstring>
#include <vector>

#include "settings_reader.h"

namespace doredaviro::iniCtrl {

std::string GetIniString(const std::string& section, const std::string& key,
                         const std::string& file) {
    std::vector<char> buffer(kProfileValueBufferSize, ' ');
    ReadProfileString(section, key, "", buffer.data(), kProfileValueBufferSize, file);
    const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
    const auto length = nul ? static_cast<const char*>(nul) - buffer.data() : 0;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace doredaviro::iniCtrl
