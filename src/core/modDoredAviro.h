#pragma once

#include <string>
#include <vector>

#include "platform.h"

namespace doredaviro {

// What start-up found: written once by LoadSettings, read afterwards.
struct Settings {
    std::string IniPath;   // the settings file beside the program; empty when its folder is unknown
    std::string ToolPath;  // the archiver it names, made absolute; empty when it names none
};

namespace modDoredAviro {

// When another copy runs: hands it `paths`, the command line's, and ends; or,
// without paths, says that it runs and ends. When the paths cannot be handed
// over, says so and ends with status 1. Returns true when it ended the program.
bool CheckPrevInstance(System& system, const std::vector<std::string>& paths = {});

Settings LoadSettings(System& system);

// True when `path` names a file (hidden, read-only or system ones included),
// false for a folder, a missing path or the empty text.
bool FileExists(System& system, std::string path);

}  // namespace modDoredAviro
}  // namespace doredaviro
