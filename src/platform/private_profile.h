#pragma once

#include <string>

namespace doredaviro {

// Reads one key of an INI file the way the Windows settings-file reader does:
// copies the value (or `def` when the file, section or key is missing) into
// `buffer`, cut to fit `size` bytes including the terminating NUL, and returns
// the number of bytes copied before that NUL. Never fails and never throws.
unsigned ReadProfileString(const std::string& section, const std::string& key,
                           const std::string& def, char* buffer, unsigned size,
                           const std::string& file);

}  // namespace doredaviro
