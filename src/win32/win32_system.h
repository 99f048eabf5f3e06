#pragma once

#include <windows.h>

#include "core/platform.h"

namespace doredaviro::win32 {

// The system services of the Windows build.
class Win32System : public System {
public:
    // Message boxes belong to `window` while it is shown.
    void SetMessageOwner(HWND window) { owner_ = window; }

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override;
    bool AnotherCopyRuns() override;
    std::string ProgramFolder() override;
    char PathSeparator() const override { return '\\'; }
    std::string FindFile(const std::string& path) override;
    std::string CurrentDirectory() override;
    void End(int status) override;
    bool Launch(const std::string& tool, const std::string& path,
                const std::string& folder) override;
    HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths) override;

private:
    HWND owner_ = nullptr;
};

}  // namespace doredaviro::win32
