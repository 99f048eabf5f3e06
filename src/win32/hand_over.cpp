#include "win32/hand_over.h"

#include <utility>

#include "win32/system.h"
#include "win32/text.h"

namespace doredaviro::win32 {

namespace {

// The shown main windows of other copies of this program. A copy that is still starting, or a
// later start waiting to hand over, has its window hidden.
std::vector<HWND> OtherCopiesWindows() {
    std::vector<HWND> windows;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() && IsWindowVisible(window)) windows.push_back(window);
    }
    return windows;
}

// Within this session: the copy and its later starts share the desktop.
std::wstring MappingName(const std::string& slot) {
    return L"Local\\DoredAviro.ZivevKorvu.HandOver." + Widen(slot);
}

}  // namespace

HandOverSlot::~HandOverSlot() { Release(); }

HandOverSlot::HandOverSlot(HandOverSlot&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      word_(std::exchange(other.word_, nullptr)),
      name_(std::move(other.name_)) {}

HandOverSlot& HandOverSlot::operator=(HandOverSlot&& other) noexcept {
    if (this != &other) {
        Release();
        mapping_ = std::exchange(other.mapping_, nullptr);
        word_ = std::exchange(other.word_, nullptr);
        name_ = std::move(other.name_);
    }
    return *this;
}

void HandOverSlot::Release() {
    if (word_) UnmapViewOfFile(const_cast<LONG*>(word_));
    if (mapping_) CloseHandle(mapping_);
    word_ = nullptr;
    mapping_ = nullptr;
}

HandOverSlot HandOverSlot::Create() {
    static unsigned serial = 0;
    HandOverSlot slot;
    // A name still open from an earlier process of the same number is passed over.
    for (int attempt = 0; attempt < 100 && !slot.valid(); ++attempt) {
        const std::string name =
            std::to_string(GetCurrentProcessId()) + "." + std::to_string(++serial);
        HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(LONG), MappingName(name).c_str());
        if (!mapping) return slot;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mapping);
            continue;
        }
        slot.mapping_ = mapping;
        slot.word_ = static_cast<volatile LONG*>(
            MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
        slot.name_ = name;
        if (slot.word_) InterlockedExchange(slot.word_, kOpen);
    }
    return slot;
}

HandOverSlot HandOverSlot::Open(const std::string& name) {
    HandOverSlot slot;
    slot.mapping_ =
        OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, MappingName(name).c_str());
    if (!slot.mapping_) return slot;
    slot.word_ = static_cast<volatile LONG*>(
        MapViewOfFile(slot.mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    slot.name_ = name;
    return slot;
}

LONG HandOverSlot::state() const {
    return word_ ? InterlockedCompareExchange(word_, 0, 0) : kWithdrawn;
}

LONG HandOverSlot::Settle(LONG to) {
    return word_ ? InterlockedCompareExchange(word_, to, kOpen) : kWithdrawn;
}

HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    auto remaining = [deadline] {
        const ULONGLONG now = GetTickCount64();
        return static_cast<UINT>(now < deadline ? deadline - now : 0);
    };
    for (;;) {
        for (HWND window : OtherCopiesWindows()) {
            if (remaining() == 0) return HandOverResult::NoAnswer;
            // Lets the running copy come to the front, which Windows grants only to a program
            // the user is working with.
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            AllowSetForegroundWindow(process);
            // A slot for each window asked: one asked in vain is withdrawn, so that an answer
            // it gives too late holds nothing.
            HandOverSlot slot = HandOverSlot::Create();
            if (!slot.valid()) return HandOverResult::NoAnswer;
            const std::u16string data = EncodeHandOver({slot.name(), paths});
            COPYDATASTRUCT message{kHandOverTag, static_cast<DWORD>(data.size() * sizeof(char16_t)),
                                   const_cast<char16_t*>(data.data())};
            DWORD_PTR answer = kHandOverRefused;
            const bool answered =
                SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message),
                                    SMTO_ABORTIFHUNG, remaining(), &answer) != 0;
            if (!answered || answer < static_cast<DWORD_PTR>(kHandOverHeld)) {
                slot.Settle(HandOverSlot::kWithdrawn);
                if (answered && answer == static_cast<DWORD_PTR>(kHandOverRefused)) {
                    return HandOverResult::Refused;
                }
                continue;  // hung, gone or not ready yet: another window may still answer
            }
            // The one step that decides; the copy gave the room back when it fails.
            if (slot.Settle(HandOverSlot::kConfirmed) != HandOverSlot::kOpen) {
                return HandOverResult::Refused;
            }
            // Taken. The copy looks at once, or when the room's time is up.
            ULONGLONG ticket = answer - static_cast<DWORD_PTR>(kHandOverHeld);
            COPYDATASTRUCT confirm{kHandOverConfirmTag, sizeof ticket, &ticket};
            DWORD_PTR kept = kHandOverRefused;
            SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&confirm),
                                SMTO_ABORTIFHUNG, remaining(), &kept);
            return HandOverResult::Taken;
        }
        // No copy has a window to take them: the one holding the mutex may be showing its
        // start-up message or ending. Once it has gone, this start runs itself.
        if (!AnotherInstanceRuns()) return HandOverResult::NoOtherCopy;
        if (remaining() == 0) return HandOverResult::NoAnswer;
        Sleep(25);
    }
}

}  // namespace doredaviro::win32
