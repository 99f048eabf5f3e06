#pragma once

#include <string>

namespace doredaviro::posix {

// Directory of the running program file, symbolic links resolved.
std::string ApplicationDirectory();
// The directory search: the name of `path` when it is a file (or a folder, when
// the mask names folders); dot-files count as hidden. Empty when nothing matches.
std::string FindFirst(const std::string& path, int attributes);
// The current directory, or empty when it cannot be told (removed meanwhile).
std::string CurrentDirectory();

}  // namespace doredaviro::posix
