#include "disk_win.h"

#include <archive_entry.h>

#include <vector>

#include "fs_win.h"
#include "fsutil.h"
#include "win_names.h"

namespace korvu {
namespace {

std::string why_not(const char* what, DWORD err) {
    if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS)
        return std::string("unsafe archive: it would ") + what +
               " something already there (another name for an earlier entry)";
    return std::string("cannot ") + what + ": " + system_message(err);
}

}  // namespace

WinDisk::WinDisk(int folder) : root_(path_of(folder)) {
    if (root_.empty()) throw Failure("cannot tell where the new folder is");
}

WinDisk::~WinDisk() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

// Every folder in the new one is made by this run: one that is there already
// under a name not made here is an earlier entry's alias (an 8.3 short name,
// a case twin the name table could not fold).
std::optional<std::string> WinDisk::make_folder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        made_.insert(path);
        return std::nullopt;
    }
    DWORD err = GetLastError();
    if (err != ERROR_ALREADY_EXISTS || made_.count(path) == 0)
        return why_not("make a folder over", err);
    // Made earlier by this run: it must still be a plain folder, not a link put there since.
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) ||
        (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return "unsafe: a folder of the new tree was replaced while it was filled";
    }
    return std::nullopt;
}

std::optional<std::string> WinDisk::begin(archive_entry* e, const std::string& path) {
    if (std::optional<std::string> why = windows_name_problem(path))
        return "unsafe name for Windows: " + *why;
    std::vector<std::wstring> parts;
    std::wstring w = wide(path);
    for (size_t at = 0; at <= w.size();) {
        size_t end = w.find_first_of(L"/\\", at);
        if (end == std::wstring::npos) end = w.size();
        std::wstring part = w.substr(at, end - at);
        if (!part.empty() && part != L".") parts.push_back(part);
        at = end + 1;
    }
    if (parts.empty()) return "unsafe name for Windows: it has no name";
    bool folder = archive_entry_filetype(e) == AE_IFDIR;
    std::wstring at = root_;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        at += L"\\" + parts[i];
        if (std::optional<std::string> why = make_folder(at)) return why;
    }
    at += L"\\" + parts.back();
    if (archive_entry_mtime_is_set(e)) {
        // Seconds since 1970 in units of 100 ns since 1601.
        long long t =
            (static_cast<long long>(archive_entry_mtime(e)) + 11644473600LL) * 10000000LL +
            archive_entry_mtime_nsec(e) / 100;
        if (t < 0) t = 0;
        time_.dwLowDateTime = static_cast<DWORD>(t);
        time_.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(t) >> 32);
        has_time_ = true;
    } else {
        has_time_ = false;
    }
    if (folder) return make_folder(at);
    file_ = CreateFileW(at.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return why_not("write over", GetLastError());
    size_ = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
    end_ = 0;
    return std::nullopt;
}

std::optional<std::string> WinDisk::data(const void* buf, std::size_t size, std::int64_t offset) {
    if (file_ == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER to;
    to.QuadPart = offset;
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN))
        return "cannot write: " + system_message(GetLastError());
    const char* p = static_cast<const char*>(buf);
    for (std::size_t done = 0; done < size;) {
        DWORD n = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        if (!WriteFile(file_, p + done, chunk, &n, nullptr) || n == 0)
            return "cannot write: " + system_message(GetLastError());
        done += n;
    }
    end_ = std::max<std::int64_t>(end_, offset + static_cast<std::int64_t>(size));
    return std::nullopt;
}

std::optional<std::string> WinDisk::finish() {
    if (file_ == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::string> why;
    // A sparse entry's last stretch may be a hole: the file still has its full size.
    if (size_ > end_) {
        LARGE_INTEGER to;
        to.QuadPart = size_;
        if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_))
            why = "cannot write: " + system_message(GetLastError());
    }
    if (!why && has_time_ && !SetFileTime(file_, nullptr, nullptr, &time_))
        why = "cannot set its time: " + system_message(GetLastError());
    if (!CloseHandle(file_) && !why) why = "cannot write: " + system_message(GetLastError());
    file_ = INVALID_HANDLE_VALUE;
    return why;
}

}  // namespace korvu
