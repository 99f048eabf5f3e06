// Stands in for the archiver: appends how it was started to the file named by RECORDER_LOG, one
// record per start, so tests can check it exactly. Fields are "name=<hex of UTF-8>\n"; a record
// ends with "end\n". It fails (status 1), once recorded, when its one argument ends in "fail".
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace

int wmain() {
    wchar_t log[32768];
    if (!GetEnvironmentVariableW(L"RECORDER_LOG", log, 32768)) return 3;

    const wchar_t* commandLine = GetCommandLineW();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    wchar_t cwd[32768] = {};
    GetCurrentDirectoryW(32768, cwd);
    FILETIME created{}, unused{};
    GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused);

    std::string record = "cmdline=" + Hex(Utf8(commandLine)) + "\n";
    record += "argc=" + std::to_string(argc) + "\n";
    for (int i = 1; i < argc; ++i) record += "arg=" + Hex(Utf8(argv[i])) + "\n";
    record += "cwd=" + Hex(Utf8(cwd)) + "\n";
    // Launches do not wait, so this is what tells the order they were started in.
    record += "created=" +
              std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                             created.dwLowDateTime) +
              "\n";
    record += "end\n";
    const std::wstring last = argc > 1 ? argv[argc - 1] : L"";
    const bool fails = last.size() >= 4 && last.compare(last.size() - 4, 4, L"fail") == 0;
    LocalFree(argv);

    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Sleep(10);
            continue;
        }
        OVERLAPPED whole{};
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
        DWORD written = 0;
        const BOOL ok =
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(file);
        if (!ok || written != record.size()) return 5;
        return fails ? 1 : 0;
    }
    return 4;
}
