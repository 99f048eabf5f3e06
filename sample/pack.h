#pragma once

#include <sys/stat.h>

#include <string>

#include "fsutil.h"

namespace korvu {

// Packs the open file or folder `fd` (or, when `st` is a symbolic link's, the
// link itself) into a new zip file in target.out() and returns its temporary name.
std::string pack(const Target& target, int fd, const struct stat& st, const std::string& shown);

}  // namespace korvu
