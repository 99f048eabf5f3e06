#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/platform.h"
#include "win32/hand_over_data.h"

// Paths handed from a later start of the program to the copy that runs: WM_COPYDATA messages to
// its main window, found by its class name. The first carries the paths (hand_over_data.h) and
// the name of a slot, a word of shared memory the sender made; the window answers that it holds
// room for them (with a ticket), refuses, or is not ready yet. The slot then decides, by
// compare-and-exchange: the sender moves it from open to confirmed, and the copy, to give the
// room back (its time is up, or the window closes), from open to withdrawn. Only one of the two
// can happen, and each side sees which, so a sender whose exchange succeeded has its paths
// taken however late the copy is, and one whose exchange failed has them not. A second message
// with the ticket tells the copy to look at once; its answer only informs.
namespace doredaviro::win32 {

// The window class, by which later starts of the program find the copy that runs.
constexpr wchar_t kMainWindowClass[] = L"DoredAviro.ZivevKorvu";

constexpr ULONG_PTR kHandOverTag = 0x5A4B4832;         // "ZKH2"
constexpr ULONG_PTR kHandOverConfirmTag = 0x5A4B4843;  // "ZKHC": the data is the ticket
constexpr LRESULT kHandOverTaken = 1;                  // to a confirmation: kept
constexpr LRESULT kHandOverRefused = 0;
constexpr LRESULT kHandOverNotReady = 2;    // still starting: ask again
constexpr LRESULT kHandOverHeld = 0x10000;  // plus the ticket: room is held, confirm

// The slot of one hand-over: made by the sender, opened by the copy.
class HandOverSlot {
public:
    enum State : LONG { kOpen = 1, kConfirmed = 2, kWithdrawn = 3 };

    HandOverSlot() = default;
    ~HandOverSlot();
    HandOverSlot(HandOverSlot&& other) noexcept;
    HandOverSlot& operator=(HandOverSlot&& other) noexcept;

    // A new one of this process's, open; not valid() when none can be made.
    static HandOverSlot Create();
    // The one a sender named; not valid() when it is gone.
    static HandOverSlot Open(const std::string& name);

    bool valid() const { return word_ != nullptr; }
    const std::string& name() const { return name_; }
    LONG state() const;
    // Moves it from open to `to`; the state it was in, kOpen when it moved.
    LONG Settle(LONG to);

private:
    void Release();

    HANDLE mapping_ = nullptr;
    volatile LONG* word_ = nullptr;
    std::string name_;
};

// Sends `paths` (UTF-8) to the running copy's window and waits up to `timeoutMs` in all for it:
// to appear (it may still be starting) and to answer. Every shown window of the class in another
// process is asked; when none takes them and the single-copy mutex turns out free, this process
// takes it and gets NoOtherCopy. Taken exactly when this start confirmed in the slot.
HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, DWORD timeoutMs);

}  // namespace doredaviro::win32
