#pragma once

#include <string>

namespace doredaviro {

// One name for one display, whichever way it is written: ":1", ":01", ":1.0" and "unix:1" are
// the local server 1, whatever the screen. A display reached over TCP ("localhost:10.0",
// "host:1") is its own, even one that names this machine: over TCP it is often another server
// (one forwarded from elsewhere). Bounded, and free of '/', so that it fits in a file name.
// "nodisplay" for none.
std::string DisplayKey(const std::string& display);

}  // namespace doredaviro
