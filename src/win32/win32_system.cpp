#include "win32/win32_system.h"

#include <shellapi.h>

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

Win32System::~Win32System() {
    // Archivers run on by themselves; only our watch on them ends.
    for (auto& [number, watch] : watches_) Forget(*watch);
}

Launched Win32System::Launch(const std::string& tool, const std::string& path,
                             const std::string& folder) {
    HANDLE process = nullptr;
    if (!win32::Launch(tool, path, folder, &process)) return {};
    if (!process) return {true, 0};
    auto watch = std::make_unique<Watch>();
    watch->process = process;
    watch->window = owner_;
    watch->number = ++lastNumber_;
    if (!owner_ || !RegisterWaitForSingleObject(&watch->wait, process, &Win32System::Ended,
                                                watch.get(), INFINITE, WT_EXECUTEONLYONCE)) {
        CloseHandle(process);
        return {true, 0};
    }
    const long long number = watch->number;
    watches_.emplace(number, std::move(watch));
    return {true, number};
}

void CALLBACK Win32System::Ended(void* context, BOOLEAN) {
    const Watch& watch = *static_cast<const Watch*>(context);
    PostMessageW(watch.window, kArchiverEndedMessage, static_cast<WPARAM>(watch.number), 0);
}

void Win32System::Forget(Watch& watch) {
    // Waits for a callback under way, so that the watch outlives it.
    if (watch.wait) UnregisterWaitEx(watch.wait, INVALID_HANDLE_VALUE);
    if (watch.process) CloseHandle(watch.process);
    watch.wait = nullptr;
    watch.process = nullptr;
}

std::optional<ArchiverEnd> Win32System::ArchiverEnded(long long process) {
    const auto it = watches_.find(process);
    if (it == watches_.end()) return std::nullopt;
    DWORD code = 1;
    const bool known = GetExitCodeProcess(it->second->process, &code) != 0;
    Forget(*it->second);
    watches_.erase(it);
    ArchiverEnd end;
    end.succeeded = known && code == 0;
    // A status the record prints as a number: Windows' codes are 32-bit unsigned.
    if (known) end.status = static_cast<int>(code & 0x7fffffff);
    return end;
}

std::string Win32System::SaveRunRecord(const std::string& name, const std::string& text) {
    return win32::SaveRunRecord(name, text, kRecordsKept);
}

void Win32System::OpenWithViewer(const std::string& path) {
    ShellExecuteW(nullptr, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32System::StartProgramWith(const std::vector<std::string>& paths) {
    std::wstring self(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (n == 0 || n >= self.size()) return;
    self.resize(n);
    std::wstring commandLine = QuoteArgument(self);
    for (const std::string& path : paths) commandLine += L" " + QuoteArgument(Widen(path));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
}

HandOverResult Win32System::HandOverToRunningCopy(const std::vector<std::string>& paths,
                                                  int waitMs) {
    return SendToRunningCopy(paths, static_cast<DWORD>(waitMs));
}

}  // namespace doredaviro::win32
