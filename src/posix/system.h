#pragma once

#include <string>

namespace doredaviro::posix {

// Folder of the program file the link `self` names (symbolic links resolved);
// empty when it cannot be read.
std::string ProgramFolder(const char* self = "/proc/self/exe");
// The name of `path` when it is a file, dot-files included; empty for a
// folder, anything else that is not a regular file, or nothing at all.
std::string FindFile(const std::string& path);
// The current directory, or empty when it cannot be told (removed meanwhile).
std::string CurrentDirectory();

}  // namespace doredaviro::posix
