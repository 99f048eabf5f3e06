// Packing on Windows: the same zip as on Linux, names in UTF-8, walked by
// the system's own folder listing. Links and other reparse points are left
// out, each named, rather than followed.
#include <archive.h>
#include <archive_entry.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "extract_limits.h"
#include "fs_win.h"
#include "pack.h"

namespace korvu {
namespace {

constexpr size_t kMaxZipName = 65535;

using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

struct Item {
    std::wstring path;  // as the system takes it
    std::string entry;  // the name in the zip
    std::string shown;  // the name in messages
};

class Packer {
public:
    explicit Packer(archive* w) : w_(w) {}

    void add(const Item& top) {
        std::vector<std::pair<Item, size_t>> todo{{top, 1}};
        while (!todo.empty()) {
            check_stop();
            auto [item, depth] = std::move(todo.back());
            todo.pop_back();
            HANDLE h = CreateFileW(item.path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT |
                                       FILE_FLAG_SEQUENTIAL_SCAN,
                                   nullptr);
            if (h == INVALID_HANDLE_VALUE)
                fail_system("cannot read " + quote(item.shown), GetLastError());
            std::unique_ptr<void, decltype(&CloseHandle)> hold(h, CloseHandle);
            BY_HANDLE_FILE_INFORMATION info;
            if (!GetFileInformationByHandle(h, &info))
                fail_system("cannot read " + quote(item.shown), GetLastError());
            if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                std::cerr << "korvu-sample: skipping " << quote(item.shown)
                          << ": a link or other reparse point, which is not packed on Windows\n";
                g_skipped = true;
                continue;
            }
            if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                add_file(h, info, item);
                continue;
            }
            write_header(info, item.entry + "/", item.shown, 0);
            std::vector<std::wstring> names = list(item);
            // Depth as extraction counts it: the folder's own name is the first level.
            if (!names.empty() && depth >= Limits::kMaxDepth) {
                throw Failure("cannot pack " + quote(item.shown + "/" + utf8(names.front())) +
                              ": it is nested more than " + std::to_string(Limits::kMaxDepth) +
                              " levels deep");
            }
            // Reversed onto the stack, so that they come out in order.
            for (auto n = names.rbegin(); n != names.rend(); ++n) {
                std::string name = utf8(*n);
                todo.push_back(
                    {{item.path + L"\\" + *n, item.entry + "/" + name, item.shown + "/" + name},
                     depth + 1});
            }
        }
    }

private:
    static std::vector<std::wstring> list(const Item& item) {
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileExW((item.path + L"\\*").c_str(), FindExInfoBasic, &fd,
                                       FindExSearchNameMatch, nullptr, 0);
        std::vector<std::wstring> names;
        if (find == INVALID_HANDLE_VALUE) {
            DWORD err = GetLastError();
            if (err == ERROR_FILE_NOT_FOUND) return names;
            fail_system("cannot read " + quote(item.shown), err);
        }
        do {
            std::wstring n = fd.cFileName;
            if (n != L"." && n != L"..") names.push_back(n);
        } while (FindNextFileW(find, &fd));
        DWORD err = GetLastError();
        FindClose(find);
        if (err != ERROR_NO_MORE_FILES) fail_system("cannot read " + quote(item.shown), err);
        std::sort(names.begin(), names.end(),
                  [](const std::wstring& a, const std::wstring& b) { return utf8(a) < utf8(b); });
        return names;
    }

    void write_header(const BY_HANDLE_FILE_INFORMATION& info, const std::string& entry_name,
                      const std::string& shown, std::int64_t size) {
        // The zip format gives a name 16 bits of length.
        if (entry_name.size() > kMaxZipName) {
            throw Failure("cannot pack " + quote(shown) + ": its name in the zip would be " +
                          std::to_string(entry_name.size()) +
                          " bytes long, and a zip holds at most " + std::to_string(kMaxZipName));
        }
        Entry e(archive_entry_new(), archive_entry_free);
        bool folder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        bool read_only = info.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
        archive_entry_set_filetype(e.get(), folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e.get(), folder ? 0755 : read_only ? 0444 : 0644);
        archive_entry_set_size(e.get(), folder ? 0 : size);
        ULARGE_INTEGER t;
        t.LowPart = info.ftLastWriteTime.dwLowDateTime;
        t.HighPart = info.ftLastWriteTime.dwHighDateTime;
        long long since_1601 = static_cast<long long>(t.QuadPart);
        archive_entry_set_mtime(e.get(), since_1601 / 10000000 - 11644473600LL,
                                static_cast<long>(since_1601 % 10000000) * 100);
        // Wide: the library's narrow names are in a code page, which Japanese may not fit.
        archive_entry_copy_pathname_w(e.get(), wide(entry_name).c_str());
        int rc = archive_write_header(w_, e.get());
        if (rc == ARCHIVE_WARN) {
            std::cerr << "korvu-sample: warning: " << quote(shown) << ": " << archive_message(w_)
                      << "\n";
        }
        if (rc < ARCHIVE_WARN) fail(shown);
    }

    void add_file(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info, const Item& item) {
        std::int64_t size =
            (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        write_header(info, item.entry, item.shown, size);
        std::int64_t total = 0;
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(h, buf_.data(), static_cast<DWORD>(buf_.size()), &n, nullptr))
                fail_system("cannot read " + quote(item.shown), GetLastError());
            if (n == 0) break;
            // The header already promised `size` bytes.
            if (total + n > size) fail_changed(item.shown);
            if (archive_write_data(w_, buf_.data(), n) != static_cast<la_ssize_t>(n))
                fail(item.shown);
            total += n;
            check_stop();
        }
        if (total != size) fail_changed(item.shown);
    }

    [[noreturn]] static void fail_changed(const std::string& shown) {
        throw Failure(quote(shown) + " changed while it was being packed");
    }

    [[noreturn]] void fail(const std::string& shown) {
        throw Failure("cannot pack " + quote(shown) + ": " + archive_message(w_));
    }

    archive* w_;
    std::vector<char> buf_ = std::vector<char>(1 << 16);
};

}  // namespace

std::string pack(const Target& target, int fd, const struct stat&, const std::string& shown) {
    TempEntry tmp(target.out(), TempEntry::Kind::File, target.dir_shown());
    {
        Writer w(archive_write_new(), archive_write_free);
        if (!w || archive_write_set_format_zip(w.get()) != ARCHIVE_OK ||
            archive_write_set_options(w.get(), "zip:hdrcharset=UTF-8") != ARCHIVE_OK ||
            archive_write_set_bytes_in_last_block(w.get(), 1) != ARCHIVE_OK ||
            archive_write_open_fd(w.get(), tmp.fd()) != ARCHIVE_OK) {
            throw Failure("cannot pack " + quote(shown) + ": " +
                          (w ? archive_message(w.get()) : "out of memory"));
        }
        std::wstring path = path_of(fd);
        if (path.empty()) fail_system("cannot read " + quote(shown), GetLastError());
        Packer(w.get()).add({path, target.name, shown});
        if (archive_write_close(w.get()) != ARCHIVE_OK) {
            throw Failure("cannot pack " + quote(shown) + ": " + archive_message(w.get()));
        }
    }
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(tmp.fd()))))
        fail_system("cannot pack " + quote(shown), GetLastError());
    check_stop();
    return tmp.keep();
}

}  // namespace korvu
