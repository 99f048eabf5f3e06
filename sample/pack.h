#pragma once

#include <sys/stat.h>

#include <string>

#include "fsutil.h"

namespace korvu {

// Packs the open file or folder `fd` into a new .zip beside it and returns the
// name of that .zip.
std::string pack(const Target& target, int fd, const struct stat& st, const std::string& shown);

}  // namespace korvu
