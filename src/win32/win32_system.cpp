#include "win32/win32_system.h"

#include "win32/hand_over.h"
#include "win32/system.h"
#include "win32/text.h"

namespace doredaviro::win32 {

namespace {

UINT IconFor(MessageStyle style) {
    switch (style) {
        case MessageStyle::Critical:
            return MB_ICONERROR;
        case MessageStyle::Exclamation:
            return MB_ICONEXCLAMATION;
        case MessageStyle::Information:
            return MB_ICONINFORMATION;
    }
    return 0;
}

}  // namespace

void Win32System::MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) {
    HWND owner = owner_ && IsWindow(owner_) && IsWindowVisible(owner_) ? owner_ : nullptr;
    MessageBoxW(owner, Widen(prompt).c_str(), Widen(title).c_str(), MB_OK | IconFor(style));
}

bool Win32System::AnotherCopyRuns() { return AnotherInstanceRuns(); }

std::string Win32System::ProgramFolder() { return win32::ProgramFolder(); }

std::string Win32System::FindFile(const std::string& path) { return win32::FindFile(path); }

std::string Win32System::CurrentDirectory() { return win32::CurrentDirectory(); }

void Win32System::End(int status) { ExitProcess(static_cast<UINT>(status)); }

bool Win32System::Launch(const std::string& tool, const std::string& path,
                         const std::string& folder) {
    return win32::Launch(tool, path, folder);
}

HandOverResult Win32System::HandOverToRunningCopy(const std::vector<std::string>& paths) {
    // Long enough for a copy started at the same moment to come up.
    constexpr DWORD kWaitMs = 10000;
    return SendToRunningCopy(paths, kWaitMs);
}

}  // namespace doredaviro::win32
