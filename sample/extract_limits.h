// How much an extraction may write, read and hold. A small archive can expand
// without end (runs of zeros, sparse entries, skipped entries, a list of
// contents declaring millions of entries), so output is checked against the
// archive's size and the target file system's free room before each entry
// is written, and the process's memory is capped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fsutil.h"

namespace korvu {

struct Limits {
    // Output may be this many times the archive's size (0: no such limit)...
    static constexpr std::uint64_t kDefaultRatio = 200;
    // ...but small archives may always produce this much.
    static constexpr std::uint64_t kRatioFloor = 16ull << 20;
    // Room kept free by default: 5% of the file system, at most 1 GiB.
    static constexpr std::uint64_t kKeepFreeCap = 1ull << 30;
    static constexpr int kKeepFreePercent = 5;
    // Entries in one archive (0: no such limit).
    static constexpr std::uint64_t kDefaultMaxEntries = 1000000;
    // Memory the whole process may use (0: no such limit).
    static constexpr std::uint64_t kDefaultMaxMemory = 512ull << 20;
    // Folder levels, extracting and packing alike: deeper trees make the
    // path checks slow and most tools fail on them anyway.
    static constexpr std::size_t kMaxDepth = 1024;

    std::uint64_t ratio = kDefaultRatio;
    std::optional<std::uint64_t> keep_free;
    std::uint64_t max_entries = kDefaultMaxEntries;
    std::uint64_t max_memory = kDefaultMaxMemory;

    // Reads KORVU_MAX_RATIO, KORVU_KEEP_FREE, KORVU_MAX_ENTRIES and
    // KORVU_MAX_MEMORY; a malformed value is a Failure.
    static Limits from_environment();

    // Caps the process's memory; false where that cannot be done.
    bool apply_memory_limit() const;
};

// Set once the memory cap is in force.
extern std::uint64_t g_memory_limit;

// "1.5 GiB", "512 bytes".
std::string human_size(std::uint64_t bytes);

// The message for work that ran into the memory cap.
std::string memory_message();

// Counts one extraction's output and throws a Failure naming the entry that
// would break a limit, before anything of that entry is written.
//
// Free room is measured again for every entry and as its data grows, and the
// room an entry still needs (its data and the folders it makes) is held in a
// file of its own on the same file system, so that runs side by side see
// each other's claims in the free space they measure. Runs into one folder
// take turns to measure and claim, so that together they never cross the
// room kept free, not even for a moment; one that finds no room keeps its
// turn until it has removed what it wrote, so that only as many give up as
// must.
class Budget {
public:
    // `dirfd` is the folder the output goes to; runs take turns through a
    // lock on it, which a descriptor opened for reading can hold.
    Budget(const Limits& limits, std::uint64_t archive_size, int dirfd, const std::string& shown);
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;

    // Claimed room is held in `folder`, the new folder being filled.
    void output_in(int folder);
    // Any entry, written or not; `label` names it for messages, quoted.
    void count_entry(const std::string& label);
    // A new entry that will hold at least `size` bytes, and makes `folders` folders above it.
    void begin_entry(const std::string& name, std::uint64_t size, std::uint64_t folders = 0);
    // The current entry is about to reach `size` bytes...
    void grow_entry(std::uint64_t size);
    // ...and now has.
    void wrote(std::uint64_t size);
    // Bytes of an entry's data read but not written (skipped entries).
    void skipped(const std::string& label, std::uint64_t bytes);
    // Bytes of the archive after its compression has been undone.
    void decoded(std::uint64_t total);
    // Gives back the room still held.
    void release();

private:
    void check_ratio(const std::string& name, std::uint64_t data) const;
    // Makes sure `ahead` more bytes fit above the kept room, and holds them.
    void claim(std::uint64_t ahead);
    bool try_claim(std::uint64_t ahead);
    // Waits for this run's turn to measure and claim; none where the folder cannot be locked.
    bool take_turn() const;
    int holder() const;
    std::uint64_t available() const;
    // False when the file system has not that much room.
    bool hold(std::uint64_t bytes);
    std::uint64_t blocks(std::uint64_t bytes) const;
    [[noreturn]] void exceeded(const std::string& why) const;

    std::string shown_;
    int dirfd_;
    std::uint64_t ratio_;
    std::uint64_t max_data_;  // from the ratio; UINT64_MAX when unlimited
    std::uint64_t max_entries_;
    std::uint64_t keep_free_;
    std::uint64_t block_;

    // Holds claimed room: unnamed, or named where the file system has no
    // unnamed files; none where room cannot be held.
    Fd held_;
    std::optional<TempEntry> held_name_;
    std::uint64_t held_bytes_ = 0;
    std::uint64_t last_measured_at_ = 0;  // entry bytes when room was last measured

    bool in_entry_ = false;
    std::string entry_;
    std::uint64_t entry_size_ = 0;
    std::uint64_t entry_claim_ = 0;  // disk bytes the current entry is counted at
    std::uint64_t done_data_ = 0;
    std::uint64_t entries_ = 0;
};

}  // namespace korvu
