#include "startup/modDoredAviro.h"

#include "startup/iniCtrl.h"
#include "window/texts.h"

namespace doredaviro::modDoredAviro {

std::string IniPath;
std::string ToolPath;

bool CheckPrevInstance(Platform& platform) {
    if (!platform.PrevInstance()) return false;
    platform.MsgBox(text::kAlreadyRunning, vbExclamation, text::kLoadErrorTitle);
    platform.End();
    return true;
}

void LoadSettings(Platform& platform) {
    IniPath = platform.AppPath() + platform.PathSeparator() + text::kIniFileName;
    ToolPath = iniCtrl::GetIniString(text::kIniSection, text::kIniKey, IniPath);
}

bool FileExists(Platform& platform, std::string path) {
    if (path.empty()) return false;
    return !platform.Dir(path, vbReadOnly | vbHidden | vbSystem | vbArchive).empty();
}

}  // namespace doredaviro::modDoredAviro
