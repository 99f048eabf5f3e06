#include "extract_limits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include "fs_win.h"
#else
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <thread>

#include "fsutil.h"

namespace korvu {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t times(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > kMax / b ? kMax : a * b;
}

// A whole number, optionally followed by K, M, G or T (powers of 1024).
std::optional<std::uint64_t> parse_size(const std::string& text, bool units) {
    std::uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (kMax - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return std::nullopt;
    if (i == text.size()) return value;
    if (!units || i + 1 != text.size()) return std::nullopt;
    static const std::string suffixes = "KMGTP";
    size_t power = suffixes.find(static_cast<char>(text[i] & ~0x20));
    if (power == std::string::npos) return std::nullopt;
    for (size_t p = 0; p <= power; ++p) {
        if (value > kMax / 1024) return std::nullopt;
        value *= 1024;
    }
    return value;
}

std::optional<std::uint64_t> from_env(const char* name, bool units) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    std::optional<std::uint64_t> value = parse_size(text, units);
    if (!value) {
        throw Failure(std::string(name) + " must be a whole number" +
                      (units ? " of bytes, optionally with K, M, G, T or P" : "") + ", not " +
                      quote(text));
    }
    return value;
}

}  // namespace

Limits Limits::from_environment() {
    Limits l;
    if (std::optional<std::uint64_t> r = from_env("KORVU_MAX_RATIO", false)) l.ratio = *r;
    l.keep_free = from_env("KORVU_KEEP_FREE", true);
    if (std::optional<std::uint64_t> n = from_env("KORVU_MAX_ENTRIES", false)) l.max_entries = *n;
    if (std::optional<std::uint64_t> m = from_env("KORVU_MAX_MEMORY", true)) l.max_memory = *m;
    return l;
}

std::uint64_t g_memory_limit = 0;

bool Limits::apply_memory_limit() const {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow memory alone is far past any such cap.
    return false;
#elif defined(_WIN32)
    // The job that also keeps the process from starting others.
    if (max_memory == 0 || !confine_process(max_memory).empty()) return false;
    g_memory_limit = max_memory;
    return true;
#else
    if (max_memory == 0) return false;
    struct rlimit rl;
    if (getrlimit(RLIMIT_DATA, &rl) != 0) return false;
    if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur <= max_memory) return false;
    rlim_t want = static_cast<rlim_t>(max_memory);
    if (rl.rlim_max != RLIM_INFINITY && rl.rlim_max < want) want = rl.rlim_max;
    rl.rlim_cur = want;
    if (setrlimit(RLIMIT_DATA, &rl) != 0) return false;
    g_memory_limit = want;
    return true;
#endif
}

std::string memory_message() {
    if (g_memory_limit == 0) return "out of memory";
    return "it needs more than " + human_size(g_memory_limit) +
           " of memory; set KORVU_MAX_MEMORY to allow more";
}

std::string human_size(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double v = static_cast<double>(bytes) / 1024;
    int u = 0;
    while (v >= 1024 && u < 5) v /= 1024, ++u;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", v, units[u]);
    return buf;
}

namespace {

// Past this much data an entry's room is measured again even where it cannot be held.
constexpr std::uint64_t kMeasureEvery = 4ull << 20;
constexpr std::uint64_t kGiveBackAtLeast = 1ull << 20;

}  // namespace

Budget::Budget(const Limits& limits, std::uint64_t archive_size, int dirfd,
               const std::string& shown)
    : shown_(shown), dirfd_(dirfd), ratio_(limits.ratio), max_entries_(limits.max_entries) {
    max_data_ = ratio_ == 0 ? kMax : std::max(times(ratio_, archive_size), Limits::kRatioFloor);
#ifdef _WIN32
    Room room;
    if (!room_of(dirfd, room)) fail_errno("cannot extract " + quote(shown), EIO);
    block_ = room.cluster;
    keep_free_ = limits.keep_free.value_or(
        std::min(Limits::kKeepFreeCap, room.total / 100 * Limits::kKeepFreePercent));
#else
    struct statvfs vfs;
    if (fstatvfs(dirfd, &vfs) != 0) fail_errno("cannot extract " + quote(shown), errno);
    block_ = vfs.f_frsize > 0 ? vfs.f_frsize : 4096;
    keep_free_ = limits.keep_free.value_or(std::min(
        Limits::kKeepFreeCap, times(vfs.f_blocks, block_) / 100 * Limits::kKeepFreePercent));
#endif
}

void Budget::output_in(int folder) {
#ifdef _WIN32
    // Gone when closed, whatever ends the process.
    held_ = Fd(open_room_holder(folder));
#else
    // Unnamed, so that nothing is left of it whatever ends the process.
    held_ = Fd(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    // FAT and exFAT have no unnamed files; the folder goes if the run fails.
    if (held_.get() < 0) held_name_.emplace(folder, TempEntry::Kind::File, shown_);
#endif
}

std::uint64_t Budget::blocks(std::uint64_t bytes) const {
    return (std::max<std::uint64_t>(bytes, 1) + block_ - 1) / block_ * block_;
}

void Budget::count_entry(const std::string& label) {
    ++entries_;
    if (max_entries_ != 0 && entries_ > max_entries_) {
        exceeded(label + " is past the limit of " + std::to_string(max_entries_) +
                 " entries; set KORVU_MAX_ENTRIES to allow more");
    }
}

void Budget::begin_entry(const std::string& name, std::uint64_t size, std::uint64_t folders) {
    if (in_entry_) done_data_ += entry_size_;
    in_entry_ = true;
    entry_ = name;
    entry_size_ = size;
    check_ratio(name, done_data_ + size);
    // Every entry takes at least one block, and a sparse one counts at its full size.
    entry_claim_ = blocks(size);
    last_measured_at_ = 0;
#ifndef _WIN32  // NTFS has no fixed number of inodes
    struct statvfs vfs;
    if (fstatvfs(dirfd_, &vfs) != 0) fail_errno("cannot extract " + quote(shown_), errno);
    // Some file systems have no fixed number of inodes and report none.
    if (vfs.f_files > 0) {
        const std::uint64_t p = Limits::kKeepFreePercent;
        std::uint64_t keep = vfs.f_files / 100 * p + (vfs.f_files % 100 * p + 99) / 100;
        // One for the entry and one for each folder it makes.
        if (vfs.f_favail < keep + folders + 1) {
            exceeded(quote(name) + " would leave less than " +
                     std::to_string(Limits::kKeepFreePercent) +
                     "% of the file system's inodes free");
        }
    }
#endif
    // Each folder takes a block; written before the data, they need no room held after it.
    claim(times(folders, block_) + entry_claim_);
}

void Budget::grow_entry(std::uint64_t size) {
    if (size > entry_size_) {
        entry_size_ = size;
        check_ratio(entry_, done_data_ + size);
    }
    std::uint64_t written = blocks(size);
    if (written > entry_claim_) {
        // Past its declared size (a stream gives none): claim another stretch.
        entry_claim_ = written + blocks(std::max<std::uint64_t>(written / 8, 1ull << 20));
        last_measured_at_ = size;
        claim(entry_claim_ - written);
        return;
    }
    if (holder() < 0 && size - std::min(size, last_measured_at_) >= kMeasureEvery) {
        last_measured_at_ = size;
        claim(entry_claim_ - written);
    }
}

void Budget::wrote(std::uint64_t size) {
    // Given back only once written, so that no other run can take it meanwhile.
    std::uint64_t ahead = entry_claim_ - std::min(entry_claim_, blocks(size));
    if (holder() >= 0 && ahead < held_bytes_) hold(ahead);
}

void Budget::skipped(const std::string& label, std::uint64_t bytes) {
    // Not written, but as much work as if it were.
    done_data_ += bytes;
    if (done_data_ + (in_entry_ ? entry_size_ : 0) <= max_data_) return;
    exceeded(label + ", which is skipped, expands the archive to more than " +
             std::to_string(ratio_) + " times its size; set KORVU_MAX_RATIO to allow more");
}

void Budget::decoded(std::uint64_t total) {
    if (total <= max_data_) return;
    exceeded("it expands to more than " + std::to_string(ratio_) +
             " times its size; set KORVU_MAX_RATIO to allow more");
}

void Budget::release() {
    held_ = Fd();
    held_name_.reset();
    held_bytes_ = 0;
}

int Budget::holder() const { return held_name_ ? held_name_->fd() : held_.get(); }

void Budget::check_ratio(const std::string& name, std::uint64_t data) const {
    if (data <= max_data_) return;
    exceeded(quote(name) + " would make the output more than " + std::to_string(ratio_) +
             " times the archive's size (" + human_size(max_data_) +
             "); set KORVU_MAX_RATIO to allow more");
}

void Budget::claim(std::uint64_t ahead) {
    // Runs side by side into one folder take turns to measure and claim. One
    // that finds no room gives up and keeps its turn until the process ends,
    // after it has removed what it wrote, so that the next one sees the room
    // given back. Thus no more give up than must.
    bool turn = take_turn();
    if (!try_claim(ahead)) {
        exceeded(quote(entry_) + " would leave less than " + human_size(keep_free_) +
                 " free on the file system; set KORVU_KEEP_FREE to keep less free");
    }
#ifndef _WIN32
    if (turn) flock(dirfd_, LOCK_UN);
#else
    (void)turn;
#endif
}

bool Budget::take_turn() const {
#ifdef _WIN32
    // A folder cannot be locked there: runs side by side only measure again.
    return false;
#else
    // Not blocking, so that a stop is seen; the turns are short but for one
    // giving up, whose removal of what it wrote may take a while.
    auto wait = std::chrono::microseconds(200);
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < until) {
        if (flock(dirfd_, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        std::this_thread::sleep_for(wait);
        wait = std::min<std::chrono::microseconds>(wait * 2, std::chrono::milliseconds(20));
        check_stop();
    }
    return false;
#endif
}

std::uint64_t Budget::available() const {
#ifdef _WIN32
    Room room;
    if (!room_of(dirfd_, room)) fail_errno("cannot extract " + quote(shown_), EIO);
    return room.free;
#else
    struct statvfs vfs;
    if (fstatvfs(dirfd_, &vfs) != 0) fail_errno("cannot extract " + quote(shown_), errno);
    return times(vfs.f_bavail, vfs.f_frsize > 0 ? vfs.f_frsize : block_);
#endif
}

bool Budget::try_claim(std::uint64_t ahead) {
    // What this run holds already is room it may use.
    std::uint64_t usable = available() + held_bytes_;
    if (usable < keep_free_ || ahead > usable - keep_free_) return false;
    std::uint64_t before = held_bytes_;
    if (!hold(ahead)) return false;
    // Another run may have claimed the same room meanwhile.
    if (held_bytes_ > before && available() < keep_free_) {
        hold(before);
        return false;
    }
    return true;
}

bool Budget::hold(std::uint64_t bytes) {
    int fd = holder();
    if (fd < 0 || bytes == held_bytes_) return true;
    if (bytes < held_bytes_) {
        // Giving room back costs the file system a journal entry: where
        // room is plenty, small amounts stay held, too little for other runs
        // to miss, so that a folder of small files is not given back file by file.
        if (held_bytes_ - bytes < kGiveBackAtLeast &&
            available() >= keep_free_ + 4 * kGiveBackAtLeast) {
            return true;
        }
#ifdef _WIN32
        if (hold_room(fd, bytes) == Held::Yes) held_bytes_ = bytes;
#else
        if (ftruncate(fd, static_cast<off_t>(bytes)) == 0) held_bytes_ = bytes;
#endif
        return true;
    }
#ifdef _WIN32
    switch (hold_room(fd, bytes)) {
        case Held::Yes:
            held_bytes_ = bytes;
            return true;
        case Held::NoRoom:
            hold_room(fd, held_bytes_);
            return false;
        case Held::Cannot:
            release();
            return true;
    }
    return true;
#else
    int rc;
    do {
        rc = fallocate(fd, 0, 0, static_cast<off_t>(bytes));
    } while (rc != 0 && errno == EINTR);
    struct stat st;
    if (rc != 0 && (errno == EOPNOTSUPP || errno == ENOSYS)) {
        // FAT and exFAT keep no holes: growing a file takes its room.
        rc = ftruncate(fd, static_cast<off_t>(bytes));
        if (rc == 0 &&
            (fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_blocks) * 512 < bytes)) {
            rc = -1;
            errno = EOPNOTSUPP;
        }
    }
    if (rc == 0) {
        held_bytes_ = bytes;
    } else if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) {
        // A failed allocation may keep part of what it took.
        if (ftruncate(fd, static_cast<off_t>(held_bytes_)) != 0) release();
        return false;
    } else {
        // No way to hold room here: measuring again as the entry grows must do.
        release();
    }
    return true;
#endif
}

void Budget::exceeded(const std::string& why) const {
    throw Failure("cannot extract " + quote(shown_) + ": " + why + "; nothing was extracted");
}

}  // namespace korvu
