#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/platform.h"

// Paths handed from a second start of the program to the copy that runs: a WM_COPYDATA message
// to its main window, found by its class name. The data is the paths in UTF-16, each ended by a
// NUL. The window's answer is one of the values below.
namespace doredaviro::win32 {

constexpr ULONG_PTR kHandOverTag = 0x5A4B4831;  // "ZKH1"
constexpr LRESULT kHandOverTaken = 1;
constexpr LRESULT kHandOverRefused = 0;
constexpr LRESULT kHandOverNotReady = 2;  // still starting: ask again
// Far more than Explorer's command line of about 32 000 characters can carry.
constexpr std::size_t kMaxHandOverBytes = std::size_t{4} << 20;

std::wstring EncodeHandOver(const std::vector<std::wstring>& paths);
// The paths of a hand-over's data, or nothing unless it is well-formed: whole UTF-16 characters
// within the size limit, 1 to 32767 paths, each ended by a NUL, not empty, and absolute (a drive
// and a backslash, or a UNC path).
std::optional<std::vector<std::wstring>> DecodeHandOver(const void* data, std::size_t bytes);

// Sends `paths` (UTF-8) to the running copy's window and waits up to `timeoutMs` for it: to
// appear (it may still be starting) and to answer.
HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, DWORD timeoutMs);

}  // namespace doredaviro::win32
