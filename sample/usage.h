#pragma once

#include <string>

namespace korvu {

// What --help prints, the same text on every system but for how the work is confined.
std::string help();

}  // namespace korvu
