// The file-system helpers of the Windows build. Folders are open handles, as
// descriptors are on Linux, and every path handed to the system is a
// "\\?\" one built from such a handle's final path, so that the system
// neither reinterprets names nor follows a path the user typed twice.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/utf.h"
#include "fs_win.h"
#include "fsutil.h"
#include "win_names.h"

namespace korvu {

std::wstring wide(const std::string& text) {
    std::u16string u = doredaviro::utf::ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

std::string utf8(const std::wstring& text) {
    std::u16string u(text.begin(), text.end());
    return doredaviro::utf::FromUtf16(u, doredaviro::utf::LoneSurrogate::Keep);
}

std::string system_message(unsigned long code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n > 0 && buf != nullptr ? std::wstring(buf, n) : L"";
    LocalFree(buf);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
        text.pop_back();
    if (text.empty()) return "system error " + std::to_string(code);
    return utf8(text);
}

void fail_system(const std::string& what, unsigned long code) {
    throw Failure(what + ": " + system_message(code));
}

namespace {

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

std::string random_suffix() {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 3; ++i) {
        unsigned v = 0;
        if (rand_s(&v) != 0) v = GetTickCount() * 2654435761u + static_cast<unsigned>(i);
        for (int k = 0; k < 4; ++k, v >>= 4) out += hex[v & 15];
    }
    return out;
}

int to_fd(HANDLE h, int flags) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) CloseHandle(h);
    return fd;
}

bool is_reparse(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes `path` and all below it, never following a link: a junction or
// symbolic link is removed as the link itself.
void remove_path(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!is_reparse(a)) {
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &fd,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find != INVALID_HANDLE_VALUE) {
            std::vector<std::wstring> names;
            do {
                std::wstring n = fd.cFileName;
                if (n != L"." && n != L"..") names.push_back(n);
            } while (FindNextFileW(find, &fd));
            FindClose(find);
            for (const std::wstring& n : names) remove_path(path + L"\\" + n);
        }
    }
    RemoveDirectoryW(path.c_str());
}

// The output's own name must be one Windows keeps as it is.
void check_output_name(const std::string& name, const std::string& where) {
    if (std::optional<std::string> why = windows_name_problem(name)) {
        throw Failure("cannot create " + quote(where + name) + ": " + *why);
    }
}

}  // namespace

std::wstring path_of(int fd) {
    HANDLE h = handle_of(fd);
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return L"";
        if (n < out.size()) {
            out.resize(n);
            break;
        }
        out.resize(n + 1);
    }
    if (out.compare(0, 4, L"\\\\?\\") != 0) out.insert(0, L"\\\\?\\");
    while (out.size() > 7 && out.back() == L'\\') out.pop_back();
    return out;
}

std::wstring child_path(int folder, const std::string& name) {
    std::wstring base = path_of(folder);
    if (base.empty()) throw Failure("cannot tell where an open folder is");
    std::wstring n = wide(name);
    for (wchar_t& c : n) c = c == L'/' ? L'\\' : c;
    return base + L"\\" + n;
}

int open_folder(const std::wstring& path, bool follow) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        errno = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ENOENT
                : err == ERROR_ACCESS_DENIED                               ? EACCES
                                                                           : EIO;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!follow && is_reparse(info.dwFileAttributes))) {
        CloseHandle(h);
        errno = ENOTDIR;
        return -1;
    }
    return to_fd(h, _O_RDONLY);
}

bool room_of(int fd, Room& room) {
    std::wstring path = path_of(fd);
    if (path.empty()) return false;
    ULARGE_INTEGER avail, total, all_free;
    if (!GetDiskFreeSpaceExW((path + L"\\").c_str(), &avail, &total, &all_free)) return false;
    room.total = total.QuadPart;
    room.free = avail.QuadPart;
    DWORD sectors = 0, bytes = 0, free_clusters = 0, clusters = 0;
    // The volume's root, which the older call wants.
    std::wstring root = path.substr(0, 7) + L"\\";
    if (GetDiskFreeSpaceW(root.c_str(), &sectors, &bytes, &free_clusters, &clusters) &&
        sectors * bytes > 0) {
        room.cluster = static_cast<std::uint64_t>(sectors) * bytes;
    }
    return true;
}

int open_room_holder(int folder) {
    std::wstring base = path_of(folder);
    if (base.empty()) return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring p = base + L"\\" + wide(".korvu-" + random_suffix() + ".tmp");
        HANDLE h =
            CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) return to_fd(h, _O_RDWR | _O_BINARY);
        if (GetLastError() != ERROR_FILE_EXISTS) return -1;
    }
    return -1;
}

Held hold_room(int fd, std::uint64_t bytes) {
    FILE_ALLOCATION_INFO info;
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (SetFileInformationByHandle(handle_of(fd), FileAllocationInfo, &info, sizeof info))
        return Held::Yes;
    DWORD err = GetLastError();
    return err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? Held::NoRoom : Held::Cannot;
}

std::string confine_process(std::uint64_t memory) {
    static HANDLE job = nullptr;
    if (job == nullptr) {
        job = CreateJobObjectW(nullptr, nullptr);
        if (job == nullptr) return "programs, memory (no job object)";
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // One process, this one: whatever it starts fails to start.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    if (memory != 0) {
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits.ProcessMemoryLimit = static_cast<SIZE_T>(memory);
    }
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return "programs, memory (job limits refused)";
    BOOL in_job = FALSE;
    if (IsProcessInJob(GetCurrentProcess(), job, &in_job) && in_job) return "";
    if (!AssignProcessToJobObject(job, GetCurrentProcess()))
        return "programs, memory (cannot join a job)";
    return "";
}

TempEntry::TempEntry(int dirfd, Kind kind, const std::string& where)
    : from_(dirfd), dirfd_(dirfd), kind_(kind) {
    std::string what = "cannot write in " + quote(where.empty() ? "." : where);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".korvu-" + random_suffix() + ".tmp";
        std::wstring p = child_path(dirfd, name);
        DWORD err;
        if (kind == Kind::File) {
            HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                name_ = name;
                fd_ = Fd(to_fd(h, _O_RDWR | _O_BINARY));
                return;
            }
            err = GetLastError();
        } else if (CreateDirectoryW(p.c_str(), nullptr)) {
            name_ = name;
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_HIDDEN);
            fd_ = Fd(open_folder(p));
            if (fd_.get() < 0) {
                err = GetLastError();
                RemoveDirectoryW(p.c_str());
                name_.clear();
                fail_system(what, err);
            }
            return;
        } else {
            err = GetLastError();
        }
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) fail_system(what, err);
    }
    throw Failure(what + ": no free temporary name");
}

TempEntry::TempEntry(int from, const std::string& name, Kind kind, int dirfd)
    : from_(from), dirfd_(dirfd), kind_(kind), name_(name) {}

TempEntry::~TempEntry() {
    if (published_ || name_.empty()) return;
    fd_ = Fd();
    try {
        remove_path(child_path(from_, name_));
    } catch (...) {
    }
}

void TempEntry::remember_identity() {}

std::string TempEntry::publish(const std::function<std::string(int)>& name_for,
                               const std::string& where, const Announce& announce) {
    fd_ = Fd();
    std::string to = place(name_for, where);
    try {
        announce(to);
    } catch (...) {
        withdraw(to);
        throw;
    }
    return to;
}

void TempEntry::withdraw(const std::string& published) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".korvu-" + random_suffix() + ".tmp";
        if (MoveFileExW(child_path(dirfd_, published).c_str(), child_path(dirfd_, name).c_str(),
                        0)) {
            name_ = name;
            from_ = dirfd_;
            published_ = false;
            return;
        }
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS) return;
    }
}

// MoveFileExW without MOVEFILE_REPLACE_EXISTING never replaces what is there.
std::string TempEntry::place(const std::function<std::string(int)>& name_for,
                             const std::string& where) {
    std::wstring from = child_path(from_, name_);
    for (int n = 1; n <= 9999; ++n) {
        std::string to = name_for(n);
        check_output_name(to, where);
        if (MoveFileExW(from.c_str(), child_path(dirfd_, to).c_str(), 0)) {
            published_ = true;
            std::wstring made = child_path(dirfd_, to);
            DWORD a = GetFileAttributesW(made.c_str());
            if (a != INVALID_FILE_ATTRIBUTES)
                SetFileAttributesW(made.c_str(), a & ~FILE_ATTRIBUTE_HIDDEN);
            return to;
        }
        DWORD err = GetLastError();
        if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) continue;
        fail_system("cannot create " + quote(where + to), err);
    }
    throw Failure("no free name for " + quote(where + name_for(1)));
}

bool TempEntry::copy_to(const std::string&, const std::string&) { return false; }

// The Windows writer names every path in full; there is no current folder to rely on.
WorkIn::WorkIn(int, const std::string&) {}
WorkIn::~WorkIn() = default;

bool folds_case(int dirfd) {
    std::string name = ".korvu-case-" + random_suffix();
    std::wstring p = child_path(dirfd, name);
    if (!CreateDirectoryW(p.c_str(), nullptr)) return true;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    bool folds = GetFileAttributesW(child_path(dirfd, upper).c_str()) != INVALID_FILE_ATTRIBUTES;
    RemoveDirectoryW(p.c_str());
    return folds;
}

void remove_tree(int dirfd, const std::string& name) {
    try {
        remove_path(child_path(dirfd, name));
    } catch (...) {
    }
}

Target locate(const std::string& path) {
    std::wstring given = wide(path);
    for (wchar_t& c : given) c = c == L'/' ? L'\\' : c;
    Target t;
    t.folder_only = given.size() > 1 && given.back() == L'\\';
    std::wstring full(MAX_PATH, L'\0');
    DWORD n =
        GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n + 1);
        n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (path.empty() || n == 0) fail_errno("cannot read " + quote(path), ENOENT);
    full.resize(n);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    size_t slash = full.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == full.size())
        throw Failure("cannot pack " + quote(path) + ": it has no parent folder");
    std::wstring dir = full.substr(0, slash == 2 ? 3 : slash);
    t.name = utf8(full.substr(slash + 1));
    // As the user gave it, up to the name.
    std::string p = path;
    while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
    size_t cut = p.find_last_of("/\\");
    std::string last = cut == std::string::npos ? p : p.substr(cut + 1);
    if (last == "." || last == ".." || (p.size() == 2 && p[1] == ':')) {
        t.dir_prefix = utf8(dir) + (dir.back() == L'\\' ? "" : "\\");
    } else {
        t.dir_prefix = cut == std::string::npos ? "" : p.substr(0, cut + 1);
    }
    std::wstring long_dir = dir.compare(0, 2, L"\\\\") == 0 ? dir : L"\\\\?\\" + dir;
    // The folder the user named is taken as it is, through a junction too, as on Linux.
    int fd = open_folder(long_dir, true);
    if (fd < 0) fail_errno("cannot read " + quote(path), errno);
    t.dir = Fd(fd);
    return t;
}

}  // namespace korvu
