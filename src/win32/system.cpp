#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

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

namespace {
HANDLE heldMutex = nullptr;
}  // namespace

bool AnotherInstanceRuns() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\DoredAviro.Zivev+Korvu");
    const DWORD error = GetLastError();
    if (mutex == nullptr) return error == ERROR_ACCESS_DENIED;  // held by a copy we may not open
    if (error == ERROR_ALREADY_EXISTS) {
        // Not ours: a handle kept open would keep it alive after the copy that made it ends.
        CloseHandle(mutex);
        return true;
    }
    // Ours until ReleaseSingleCopy: the system releases it when the process ends, however it
    // ends.
    heldMutex = mutex;
    return false;
}

void ReleaseSingleCopy() {
    if (heldMutex) CloseHandle(heldMutex);
    heldMutex = nullptr;
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

namespace {

bool recordWarned = false;

std::string RecordFailed(const std::wstring& what) {
    if (!recordWarned) {
        recordWarned = true;
        std::fprintf(stderr, "Zivev+Korvu: no run record kept: %s: error %lu\n",
                     Narrow(what).c_str(), GetLastError());
    }
    return {};
}

}  // namespace

std::string SaveRunRecord(const std::string& name, const std::string& text, int keep) {
    wchar_t local[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return RecordFailed(L"%LOCALAPPDATA%");
    const std::wstring folder = std::wstring(local, n) + L"\\Zivev+Korvu";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return RecordFailed(folder);
    }
    std::wstring path = folder + L"\\" + Widen(name);
    // Another copy's run that began in the same millisecond keeps its record too.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        path.insert(path.size() - 4, L"-" + std::to_wstring(GetCurrentProcessId()));
    }
    const std::wstring temporary = folder + L"\\.writing-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return RecordFailed(temporary);
    DWORD written = 0;
    const bool whole =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!whole || !MoveFileExW(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string failed = RecordFailed(path);
        DeleteFileW(temporary.c_str());
        return failed;
    }
    std::vector<std::wstring> runs;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\run-*.tsv").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            runs.emplace_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    // The names begin with their run's start, so they sort by age.
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < runs.size(); ++i) {
        DeleteFileW((folder + L"\\" + runs[i]).c_str());
    }
    return Narrow(path);
}

}  // namespace doredaviro::win32
