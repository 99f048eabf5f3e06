// A copy of the program as far as the single-copy check goes: waits for the test's start
// signal, checks, holds what it got for a while, and tells through its exit status.
// usage: instance_probe EVENT_NAME HOLD_MS   exit 0: it is the only copy; 1: another copy runs
#include "win32/system.h"

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (!go || WaitForSingleObject(go, 10000) != WAIT_OBJECT_0) return 3;
    const bool another = doredaviro::win32::AnotherInstanceRuns();
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return another ? 1 : 0;
}
