// How much an extraction may write. A small archive can expand without end
// (runs of zeros, sparse entries), so output is checked against the archive's
// size and the target file system's free room before each entry is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvu {

struct Limits {
    // Output may be this many times the archive's size (0: no such limit)...
    static constexpr std::uint64_t kDefaultRatio = 200;
    // ...but small archives may always produce this much.
    static constexpr std::uint64_t kRatioFloor = 16ull << 20;
    // Room kept free by default: 5% of the file system, at most 1 GiB.
    static constexpr std::uint64_t kKeepFreeCap = 1ull << 30;
    static constexpr int kKeepFreePercent = 5;

    std::uint64_t ratio = kDefaultRatio;
    std::optional<std::uint64_t> keep_free;

    // Reads KORVU_MAX_RATIO and KORVU_KEEP_FREE; a malformed value is a Failure.
    static Limits from_environment();
};

// "1.5 GiB", "512 bytes".
std::string human_size(std::uint64_t bytes);

// Counts one extraction's output and throws a Failure naming the entry that
// would break a limit, before anything of that entry is written.
class Budget {
public:
    // `dirfd` is on the file system the output goes to.
    Budget(const Limits& limits, std::uint64_t archive_size, int dirfd, const std::string& shown);

    // A new entry that will hold at least `size` bytes.
    void begin_entry(const std::string& name, std::uint64_t size);
    // The current entry now reaches `size` bytes.
    void grow_entry(std::uint64_t size);
    // Bytes of the archive after its compression has been undone.
    void decoded(std::uint64_t total);

private:
    void check() const;
    [[noreturn]] void exceeded(const std::string& why) const;

    std::string shown_;
    std::uint64_t ratio_;
    std::uint64_t max_data_;  // from the ratio; UINT64_MAX when unlimited
    std::uint64_t room_;      // bytes that may still be used on disk
    std::uint64_t keep_free_;
    std::uint64_t block_;
    std::optional<std::uint64_t> inode_room_;

    bool in_entry_ = false;
    std::string entry_;
    std::uint64_t entry_size_ = 0;
    std::uint64_t done_data_ = 0;
    std::uint64_t done_disk_ = 0;
    std::uint64_t entries_ = 0;
};

}  // namespace korvu
