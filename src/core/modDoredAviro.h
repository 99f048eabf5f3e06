#pragma once

#include <string>

#include "platform.h"

namespace doredaviro {

// What start-up found: written once by LoadSettings, read afterwards.
struct Settings {
    std::string IniPath;   // the settings file beside the program; empty when its folder is unknown
    std::string ToolPath;  // the archiver it names, made absolute; empty when it names none
};

namespace modDoredAviro {

// Shows the "already running" message and ends the program when another copy
// runs. Returns true when it ended the program.
bool CheckPrevInstance(System& system);

Settings LoadSettings(System& system);

// True when `path` names a file (hidden, read-only or system ones included),
// false for a folder, a missing path or the empty text.
bool FileExists(System& system, std::string path);

// The archiver's path as the settings file gives it, taken relative to the
// folder of the settings file when it is not absolute, so that the folder the
// program happens to be started from never chooses the program to launch.
// `separator` tells the system's path syntax: '/' or '\\'.
std::string ResolveToolPath(const std::string& value, const std::string& folder, char separator);

}  // namespace modDoredAviro
}  // namespace doredaviro
