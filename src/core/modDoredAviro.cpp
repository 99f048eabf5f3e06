#include "modDoredAviro.h"

#include "iniCtrl.h"
#include "texts.h"

namespace doredaviro::modDoredAviro {

namespace {

bool IsSlash(char c, char separator) { return c == separator || (separator == '\\' && c == '/'); }
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:" of "C:\dir", or "\\server\share" of a UNC folder; empty when it has neither.
std::string WindowsRoot(const std::string& folder) {
    if (folder.size() >= 2 && IsDriveLetter(folder[0]) && folder[1] == ':')
        return folder.substr(0, 2);
    if (folder.size() >= 2 && IsSlash(folder[0], '\\') && IsSlash(folder[1], '\\')) {
        const auto server = folder.find_first_of("\\/", 2);
        if (server == std::string::npos) return folder;
        const auto share = folder.find_first_of("\\/", server + 1);
        return share == std::string::npos ? folder : folder.substr(0, share);
    }
    return {};
}

}  // namespace

bool CheckPrevInstance(System& system) {
    if (!system.AnotherCopyRuns()) return false;
    system.MsgBox(text::kAlreadyRunning, MessageStyle::Exclamation, text::kLoadErrorTitle);
    system.End();
    return true;
}

Settings LoadSettings(System& system) {
    Settings settings;
    const std::string folder = system.ProgramFolder();
    // Never the current folder instead: a file planted wherever the program is
    // started from would choose what it launches.
    if (folder.empty()) return settings;
    settings.IniPath = folder + system.PathSeparator() + text::kIniFileName;
    const std::string value =
        iniCtrl::GetIniString(text::kIniSection, text::kIniKey, settings.IniPath);
    settings.ToolPath = ResolveToolPath(value, folder, system.PathSeparator());
    return settings;
}

bool FileExists(System& system, std::string path) {
    if (path.empty()) return false;
    return !system.FindFile(path).empty();
}

std::string ResolveToolPath(const std::string& value, const std::string& folder, char separator) {
    if (value.empty()) return value;
    if (separator != '\\') {
        return value[0] == separator ? value : folder + separator + value;
    }
    const bool drive = value.size() >= 2 && IsDriveLetter(value[0]) && value[1] == ':';
    if (drive && value.size() >= 3 && IsSlash(value[2], separator)) return value;  // C:\tool
    if (IsSlash(value[0], separator) && value.size() >= 2 && IsSlash(value[1], separator)) {
        return value;  // \\server\share\tool
    }
    if (IsSlash(value[0], separator)) return WindowsRoot(folder) + value;  // \tool: this drive
    // C:tool would be relative to whichever folder drive C: last had: its root instead.
    if (drive) return value.substr(0, 2) + separator + value.substr(2);
    return folder + separator + value;
}

}  // namespace doredaviro::modDoredAviro
