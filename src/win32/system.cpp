#include <windows.h>

#include <shellapi.h>

#include "win32/system.h"
#include "win32/text.h"

namespace doredaviro::win32 {

std::string ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : Narrow(path.substr(0, slash));
}

std::string FindFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Widen(path).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return {};
    std::string name;
    do {
        // Folders (and "." and "..") are never the file asked for.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        name = Narrow(data.cFileName);
        break;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return name;
}

std::string CurrentDirectory() {
    std::wstring dir(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
        if (n == 0) return {};
        if (n < dir.size()) {
            dir.resize(n);
            return Narrow(dir);
        }
        dir.resize(n);  // n is the size needed, terminator included
    }
}

bool AnotherInstanceRuns() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\DoredAviro.Zivev+Korvu");
    const DWORD error = GetLastError();
    if (mutex == nullptr) return error == ERROR_ACCESS_DENIED;  // held by a copy we may not open
    if (error == ERROR_ALREADY_EXISTS) {
        // Not ours: a handle kept open would keep it alive after the copy that made it ends.
        CloseHandle(mutex);
        return true;
    }
    // Ours, never closed: the system releases it when the process ends, however it ends.
    return false;
}

std::wstring QuoteArgument(const std::wstring& path) {
    std::size_t slashes = 0;
    while (slashes < path.size() && path[path.size() - 1 - slashes] == L'\\') ++slashes;
    return L"\"" + path + std::wstring(slashes, L'\\') + L"\"";
}

bool Launch(const std::string& file, const std::string& argument, const std::string& directory,
            HANDLE* process) {
    if (process) *process = nullptr;
    if (file.empty()) return false;
    const std::wstring wideFile = Widen(file);
    const std::wstring parameters = QuoteArgument(Widen(argument));
    const std::wstring wideDirectory = Widen(directory);
    // The wide call, so that a name the ANSI code page cannot spell reaches the archiver intact.
    // No shell box: a failure is the program's own message, once for the batch. Not
    // asynchronous, so the result is known here; a shortcut or a batch file still opens as the
    // shell opens it.
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = L"open";
    info.lpFile = wideFile.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = wideDirectory.empty() ? nullptr : wideDirectory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return false;
    if (process) *process = info.hProcess;
    return true;
}

}  // namespace doredaviro::win32
