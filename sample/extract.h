#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "extract_limits.h"
#include "fsutil.h"

namespace korvu {

// Extracts the open regular file `fd` into a new folder in target.out() if it
// is an archive and returns that folder's temporary name. Returns nothing, with
// `fd` rewound, when the file is not an archive.
std::optional<std::string> extract_if_archive(const Target& target, int fd, const struct stat& st,
                                              const std::string& shown, const Limits& limits);

}  // namespace korvu
