#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "extract_limits.h"
#include "fsutil.h"

namespace korvu {

// Extracts the open regular file `fd` into a new folder beside it if it is an
// archive, announces that folder and returns its name. Returns nothing, with
// `fd` rewound, when the file is not an archive.
std::optional<std::string> extract_if_archive(const Target& target, int fd, const struct stat& st,
                                              const std::string& shown, const Limits& limits,
                                              const Announce& announce);

}  // namespace korvu
