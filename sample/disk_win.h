// Writes an archive's entries into the new folder on Windows, in place of
// the archive library's disk writer, whose safety checks there do not cover
// what Windows does to names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

struct archive_entry;

namespace korvu {

class WinDisk {
public:
    explicit WinDisk(int folder);
    WinDisk(const WinDisk&) = delete;
    WinDisk& operator=(const WinDisk&) = delete;
    ~WinDisk();

    // Each returns why it failed, or nothing. `path` is where the entry goes,
    // relative to the folder, '/' between folders.
    std::optional<std::string> begin(archive_entry* e, const std::string& path);
    std::optional<std::string> data(const void* buf, std::size_t size, std::int64_t offset);
    std::optional<std::string> finish();

private:
    std::optional<std::string> make_folder(const std::wstring& path);

    std::wstring root_;
    std::unordered_set<std::wstring> made_;  // folders this run made, by full path
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::int64_t size_ = 0;
    std::int64_t end_ = 0;
    FILETIME time_ = {};
    bool has_time_ = false;
};

}  // namespace korvu
