#include "extract_limits.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

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
    return l;
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

Budget::Budget(const Limits& limits, std::uint64_t archive_size, int dirfd,
               const std::string& shown)
    : shown_(shown), ratio_(limits.ratio) {
    max_data_ = ratio_ == 0 ? kMax : std::max(times(ratio_, archive_size), Limits::kRatioFloor);
    struct statvfs vfs;
    if (fstatvfs(dirfd, &vfs) != 0) fail_errno("cannot extract " + quote(shown), errno);
    block_ = vfs.f_frsize > 0 ? vfs.f_frsize : 4096;
    std::uint64_t avail = times(vfs.f_bavail, block_);
    keep_free_ = limits.keep_free.value_or(std::min(
        Limits::kKeepFreeCap, times(vfs.f_blocks, block_) / 100 * Limits::kKeepFreePercent));
    room_ = avail > keep_free_ ? avail - keep_free_ : 0;
    // Some file systems have no fixed number of inodes and report none.
    if (vfs.f_files > 0) {
        const std::uint64_t p = Limits::kKeepFreePercent;
        std::uint64_t keep = vfs.f_files / 100 * p + (vfs.f_files % 100 * p + 99) / 100;
        inode_room_ = vfs.f_favail > keep ? vfs.f_favail - keep : 0;
    }
    // The new folder itself.
    entries_ = 1;
    done_disk_ = block_;
}

void Budget::begin_entry(const std::string& name, std::uint64_t size) {
    if (in_entry_) {
        done_data_ += entry_size_;
        done_disk_ += (std::max<std::uint64_t>(entry_size_, 1) + block_ - 1) / block_ * block_;
    }
    in_entry_ = true;
    entry_ = name;
    entry_size_ = size;
    ++entries_;
    check();
}

void Budget::grow_entry(std::uint64_t size) {
    if (size <= entry_size_) return;
    entry_size_ = size;
    check();
}

void Budget::decoded(std::uint64_t total) {
    if (total <= max_data_) return;
    exceeded("it expands to more than " + std::to_string(ratio_) +
             " times its size; set KORVU_MAX_RATIO to allow more");
}

void Budget::check() const {
    // Every entry takes at least one block, and a sparse one counts at its full size.
    std::uint64_t data = done_data_ + entry_size_;
    std::uint64_t disk =
        done_disk_ + (std::max<std::uint64_t>(entry_size_, 1) + block_ - 1) / block_ * block_;
    if (data > max_data_) {
        exceeded(quote(entry_) + " would make the output more than " + std::to_string(ratio_) +
                 " times the archive's size (" + human_size(max_data_) +
                 "); set KORVU_MAX_RATIO to allow more");
    }
    if (disk > room_) {
        exceeded(quote(entry_) + " would leave less than " + human_size(keep_free_) +
                 " free on the file system; set KORVU_KEEP_FREE to keep less free");
    }
    if (inode_room_ && entries_ > *inode_room_) {
        exceeded(quote(entry_) + " would leave less than " +
                 std::to_string(Limits::kKeepFreePercent) + "% of the file system's inodes free");
    }
}

void Budget::exceeded(const std::string& why) const {
    throw Failure("cannot extract " + quote(shown_) + ": " + why + "; nothing was extracted");
}

}  // namespace korvu
