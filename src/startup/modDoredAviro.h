#pragma once

#include <string>

#include "platform/platform.h"

namespace doredaviro::modDoredAviro {

// Written once by LoadSettings, read afterwards.
extern std::string IniPath;
extern std::string ToolPath;

// Shows the "already running" message and ends the program when another copy
// runs. Returns true when it ended the program.
bool CheckPrevInstance(Platform& platform);

void LoadSettings(Platform& platform);

// True when `path` names a file (hidden, read-only or system ones included),
// false for a folder, a missing path or the empty text.
bool FileExists(Platform& platform, std::string path);

}  // namespace doredaviro::modDoredAviro
