#include "win32/hand_over.h"

#include "core/frmDoredAviro.h"
#include "win32/main_window.h"
#include "win32/system.h"
#include "win32/text.h"

namespace doredaviro::win32 {

namespace {

// No more than the list could ever hold.
constexpr std::size_t kMaxPaths = kMaxRows;

// The shown main windows of other copies of this program. A copy that is still starting, or a
// later start waiting to hand over, has its window hidden.
std::vector<HWND> OtherCopiesWindows() {
    std::vector<HWND> windows;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, MainWindow::kClassName, nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() && IsWindowVisible(window)) windows.push_back(window);
    }
    return windows;
}

bool IsAbsolute(const std::wstring& path) {
    const bool drive =
        path.size() >= 3 &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
        path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool unc = path.size() >= 3 && (path[0] == L'\\' || path[0] == L'/') &&
                     (path[1] == L'\\' || path[1] == L'/');
    return drive || unc;
}

}  // namespace

std::wstring EncodeHandOver(const std::vector<std::wstring>& paths) {
    std::wstring data;
    for (const std::wstring& path : paths) {
        data += path;
        data.push_back(L'\0');
    }
    return data;
}

std::optional<std::vector<std::wstring>> DecodeHandOver(const void* data, std::size_t bytes) {
    if (!data || bytes == 0 || bytes % sizeof(wchar_t) != 0 || bytes > kMaxHandOverBytes) {
        return std::nullopt;
    }
    const auto* text = static_cast<const wchar_t*>(data);
    const std::size_t length = bytes / sizeof(wchar_t);
    if (text[length - 1] != L'\0') return std::nullopt;
    std::vector<std::wstring> paths;
    for (std::size_t at = 0; at < length;) {
        std::size_t end = at;
        while (text[end] != L'\0') ++end;
        std::wstring path(text + at, end - at);
        if (!IsAbsolute(path) || paths.size() == kMaxPaths) return std::nullopt;
        paths.push_back(std::move(path));
        at = end + 1;
    }
    return paths;
}

HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, DWORD timeoutMs) {
    std::vector<std::wstring> wide;
    for (const std::string& path : paths) wide.push_back(Widen(path));
    const std::wstring data = EncodeHandOver(wide);
    COPYDATASTRUCT message{kHandOverTag, static_cast<DWORD>(data.size() * sizeof(wchar_t)),
                           const_cast<wchar_t*>(data.data())};
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    auto remaining = [deadline] {
        const ULONGLONG now = GetTickCount64();
        return now < deadline ? deadline - now : 0;
    };
    for (;;) {
        for (HWND window : OtherCopiesWindows()) {
            if (remaining() == 0) return HandOverResult::NoAnswer;
            // Lets the running copy come to the front, which Windows grants only to a program
            // the user is working with.
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            AllowSetForegroundWindow(process);
            DWORD_PTR answer = kHandOverRefused;
            if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message),
                                     SMTO_ABORTIFHUNG, static_cast<UINT>(remaining()), &answer)) {
                continue;  // hung or gone: another window may still answer
            }
            if (answer == static_cast<DWORD_PTR>(kHandOverRefused)) return HandOverResult::Refused;
            if (answer < static_cast<DWORD_PTR>(kHandOverHeld)) continue;  // not ready yet
            // Room is held: confirm while there is time to hear that they were kept.
            if (remaining() < kConfirmMarginMs) return HandOverResult::NoAnswer;
            ULONGLONG ticket = answer - static_cast<DWORD_PTR>(kHandOverHeld);
            COPYDATASTRUCT confirm{kHandOverConfirmTag, sizeof ticket, &ticket};
            DWORD_PTR kept = kHandOverRefused;
            if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&confirm),
                                     SMTO_ABORTIFHUNG, static_cast<UINT>(remaining()), &kept)) {
                return HandOverResult::NoAnswer;
            }
            return kept == static_cast<DWORD_PTR>(kHandOverTaken) ? HandOverResult::Taken
                                                                  : HandOverResult::Refused;
        }
        // No copy has a window to take them: the one holding the mutex may be showing its
        // start-up message or ending. Once it has gone, this start runs itself.
        if (!AnotherInstanceRuns()) return HandOverResult::NoOtherCopy;
        if (remaining() == 0) return HandOverResult::NoAnswer;
        Sleep(25);
    }
}

}  // namespace doredaviro::win32
