// The names Windows cannot be trusted with. Plain C++, so that the rules can
// be read and tested without the system they guard against.
#pragma once

#include <optional>
#include <string>

namespace korvu {

// Why an archive entry named `path` (UTF-8, '/' or '\' between folders)
// could not be written safely inside a new folder on Windows: it would
// leave the folder, name a drive, a device or a data stream, or be renamed
// by the system behind our back. Nothing when it can.
std::optional<std::string> windows_name_problem(const std::string& path);

}  // namespace korvu
