#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/platform.h"

// Paths handed from a second start of the program to the copy that runs: a WM_COPYDATA message
// to its main window, found by its class name. The data is the paths in UTF-16, each ended by a
// NUL. The window answers that it holds room for them (with a ticket), refuses, or is not ready.
// A sender that has room confirms with a second message carrying the ticket, and only then are
// the paths queued; the answer to that says whether they were kept. Room held for a sender that
// never confirms is given back after a few seconds.
namespace doredaviro::win32 {

constexpr ULONG_PTR kHandOverTag = 0x5A4B4831;         // "ZKH1"
constexpr ULONG_PTR kHandOverConfirmTag = 0x5A4B4843;  // "ZKHC": the data is the ticket
constexpr LRESULT kHandOverTaken = 1;                  // to a confirmation: kept
constexpr LRESULT kHandOverRefused = 0;
constexpr LRESULT kHandOverNotReady = 2;    // still starting: ask again
constexpr LRESULT kHandOverHeld = 0x10000;  // plus the ticket: room is held, confirm
constexpr ULONGLONG kHandOverHoldMs = 5000;
// A sender confirms only while this much of its time is left.
constexpr ULONGLONG kConfirmMarginMs = 1000;
// Far more than Explorer's command line of about 32 000 characters can carry.
constexpr std::size_t kMaxHandOverBytes = std::size_t{4} << 20;

std::wstring EncodeHandOver(const std::vector<std::wstring>& paths);
// The paths of a hand-over's data, or nothing unless it is well-formed: whole UTF-16 characters
// within the size limit, 1 to 32767 paths, each ended by a NUL, not empty, and absolute (a drive
// and a backslash, or a UNC path).
std::optional<std::vector<std::wstring>> DecodeHandOver(const void* data, std::size_t bytes);

// Sends `paths` (UTF-8) to the running copy's window and waits up to `timeoutMs` in all for it:
// to appear (it may still be starting) and to answer. Every shown window of the class in another
// process is asked; when none takes them and the single-copy mutex turns out free, this process
// takes it and gets NoOtherCopy.
HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, DWORD timeoutMs);

}  // namespace doredaviro::win32
