#include "modDoredAviro.h"

#include "hand_over.h"
#include "iniCtrl.h"
#include "paths.h"
#include "texts.h"

namespace doredaviro::modDoredAviro {

bool CheckPrevInstance(System& system, const std::vector<std::string>& paths) {
    if (!system.AnotherCopyRuns()) return false;
    if (paths.empty()) {
        system.MsgBox(text::kAlreadyRunning, MessageStyle::Exclamation, text::kLoadErrorTitle);
        system.End(0);
        return true;
    }
    switch (system.HandOverToRunningCopy(paths, kHandOverWaitMs)) {
        case HandOverResult::Taken:
            system.End(0);
            return true;
        case HandOverResult::NoOtherCopy:
            return false;  // it ended meanwhile: this one runs instead
        case HandOverResult::Refused:
        case HandOverResult::NoAnswer:
            break;
    }
    system.MsgBox(text::kHandOverFailed, MessageStyle::Exclamation, text::kCaption);
    system.End(1);
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
    settings.ToolPath = AbsolutePath(value, folder, system.PathSeparator());
    return settings;
}

bool FileExists(System& system, std::string path) {
    if (path.empty()) return false;
    return !system.FindFile(path).empty();
}

}  // namespace doredaviro::modDoredAviro
