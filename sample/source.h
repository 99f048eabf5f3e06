// What a file claims to be, and the bytes of an archive under its compression.
//
// Compression is undone here rather than by the archive library's own read
// filters: only decompressors built into this program are used, the whole
// stream is read so that checksums at its end are checked, and gzip's CRC
// and length, which the library leaves unchecked, are checked by zlib.
#pragma once

#include <archive.h>

#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "extract_limits.h"
#include "fsutil.h"

namespace korvu {

struct Sniffed {
    std::string compression;    // e.g. "gzip" when the file starts like compressed data
    bool outside_only = false;  // that compression can only be undone by an outside program
    bool container = false;     // the file starts like an archive format
};
Sniffed sniff(int fd);

// Why a 7z file in `fd` cannot be read within `limits`, told before the
// archive library holds its list of contents in memory; nothing if it can.
std::optional<std::string> sevenzip_problem(int fd, const Limits& limits);

// .zip, .tar.gz, .7z and the like.
bool named_like_archive(const std::string& name);

// Damaged or unreadable data; what() is the reason alone.
class Damaged : public Failure {
public:
    explicit Damaged(const std::string& why, bool memory = false) : Failure(why), memory_(memory) {}
    // No damage after all: undoing the compression needs more memory than the cap allows.
    bool short_of_memory() const { return memory_; }

private:
    bool memory_;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // A decoder for the compression `fd` starts with, or null (with `fd`
    // rewound) when it starts with none that is built in. Throws Damaged when
    // the compressed stream cannot even be started.
    static std::unique_ptr<Decoder> open(int fd, const Sniffed& sniffed, Budget& budget);

    // Lets the archive library read from this decoder. Its errors reach the
    // library as a plain read error; fail() gives back the real one.
    int attach(archive* a);
    // The reason of a damaged stream seen by the library, or empty. Any other
    // failure (a limit, an interruption) is thrown again here.
    std::string failure();
    // Whether that reason is the memory cap.
    bool short_of_memory() const { return memory_; }
    // Reads to the end, so that a checksum at the end is checked too.
    void drain();

protected:
    explicit Decoder(Budget& budget) : budget_(budget) {}
    // Next decoded bytes, none at the end.
    virtual size_t next(const void** buf) = 0;

private:
    size_t counted(const void** buf);
    static la_ssize_t feed(archive* a, void* self, const void** buf);

    Budget& budget_;
    unsigned long long total_ = 0;
    std::string damage_;
    bool memory_ = false;
    std::exception_ptr pending_;
};

}  // namespace korvu
