#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>

#include "core/platform.h"
#include "core/run_record.h"

namespace doredaviro::win32 {

// The system services of the Windows build.
class Win32System : public System {
public:
    // Posted to the message owner when a started archiver has ended; wParam is its number.
    static constexpr UINT kArchiverEndedMessage = WM_APP + 2;

    Win32System() = default;
    ~Win32System() override;
    Win32System(const Win32System&) = delete;
    Win32System& operator=(const Win32System&) = delete;

    // Message boxes belong to `window` while it is shown, and it hears of ended archivers.
    void SetMessageOwner(HWND window) { owner_ = window; }
    // For kArchiverEndedMessage: how archiver `process` ended, its handle closed; nothing when
    // it is not one of ours.
    std::optional<ArchiverEnd> ArchiverEnded(long long process);

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override;
    bool AnotherCopyRuns() override;
    std::string ProgramFolder() override;
    char PathSeparator() const override { return '\\'; }
    std::string FindFile(const std::string& path) override;
    std::string CurrentDirectory() override;
    void End(int status) override;
    Launched Launch(const std::string& tool, const std::string& path,
                    const std::string& folder) override;
    long long Milliseconds() override { return static_cast<long long>(GetTickCount64()); }
    HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths,
                                         int waitMs) override;
    std::string SaveRunRecord(const std::string& name, const std::string& text) override;
    void OpenWithViewer(const std::string& path) override;
    void StartProgramWith(const std::vector<std::string>& paths) override;

private:
    // A started archiver, waited for on the thread pool, which posts its end to the window.
    struct Watch {
        HANDLE process = nullptr;
        HANDLE wait = nullptr;
        HWND window = nullptr;
        long long number = 0;
    };
    static void CALLBACK Ended(void* watch, BOOLEAN timedOut);
    static void Forget(Watch& watch);

    HWND owner_ = nullptr;
    long long lastNumber_ = 0;
    std::map<long long, std::unique_ptr<Watch>> watches_;
};

}  // namespace doredaviro::win32
