#pragma once

#include <string>

namespace doredaviro::iniCtrl {

// The value of `key` in `section` of the INI file `file`, as at most 199 bytes;
// empty when the file, the section or the key is missing.
std::string GetIniString(const std::string& section, const std::string& key,
                         const std::string& file);

}  // namespace doredaviro::iniCtrl
