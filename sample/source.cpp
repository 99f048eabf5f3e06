#include "source.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace korvu {
namespace {

#ifdef _WIN32
// The C runtime has no pread; one reader at a time here, so seeking there
// and back does.
ssize_t pread(int fd, void* buf, size_t size, off_t at) {
    off_t was = lseek(fd, 0, SEEK_CUR);
    if (was < 0 || lseek(fd, at, SEEK_SET) != at) return -1;
    ssize_t n = ::read(fd, buf, static_cast<unsigned>(size));
    int err = errno;
    if (lseek(fd, was, SEEK_SET) != was) return -1;
    errno = err;
    return n;
}
#endif

using Archive = std::unique_ptr<archive, int (*)(archive*)>;

struct Filter {
    const char* name;
    int (*enable)(archive*);
};

// The library's decompressors other than gzip (see GzipDecoder). Any of them
// may, depending on how the library was built, only be able to run an
// outside program found through PATH; the library then answers ARCHIVE_WARN.
const Filter kFilters[] = {
    {"bzip2", archive_read_support_filter_bzip2},
    {"compress", archive_read_support_filter_compress},
    {"lz4", archive_read_support_filter_lz4},
    {"lzip", archive_read_support_filter_lzip},
    {"lzma", archive_read_support_filter_lzma},
    {"xz", archive_read_support_filter_xz},
    {"zstd", archive_read_support_filter_zstd},
    {"lzop", archive_read_support_filter_lzop},
    {"lrzip", archive_read_support_filter_lrzip},
    {"grzip", archive_read_support_filter_grzip},
};

// The library's failure to decode: damage, or the memory cap reached.
[[noreturn]] void decoding_failed(archive* a) {
    if (archive_errno(a) == ENOMEM && g_memory_limit != 0) throw Damaged(memory_message(), true);
    throw Damaged(archive_message(a));
}

bool built_in(const Filter& f) {
    Archive probe(archive_read_new(), archive_read_free);
    return probe && f.enable(probe.get()) == ARCHIVE_OK;
}

bool built_in(const std::string& name) {
    if (name == "gzip") return true;
    for (const Filter& f : kFilters) {
        if (name == f.name) return built_in(f);
    }
    return false;
}

struct Magic {
    size_t offset;
    std::string_view bytes;
    const char* compression;  // null for an archive format
};

using namespace std::string_view_literals;
const Magic kMagics[] = {
    {0, "\x1f\x8b\x08"sv, "gzip"},
    {4, "1AY&SY"sv, "bzip2"},  // the first block, after "BZh" and the block size
    {0, "\xfd\x37\x7a\x58\x5a\x00"sv, "xz"},
    {0, "\x28\xb5\x2f\xfd"sv, "zstd"},
    {0, "\x04\x22\x4d\x18"sv, "lz4"},
    {0, "\x02\x21\x4c\x18"sv, "lz4"},
    {0, "LZIP"sv, "lzip"},
    {0, "\x89LZO\0\r\n\x1a\n"sv, "lzop"},
    {0, "LRZI"sv, "lrzip"},
    {0, "GRZipII\0\x02\x04:)"sv, "grzip"},
    {0, "PK\x03\x04"sv, nullptr},
    {0, "PK\x05\x06"sv, nullptr},
    {0, "7z\xbc\xaf\x27\x1c"sv, nullptr},
    {0, "Rar!\x1a\x07"sv, nullptr},
    {0, "MSCF\0\0\0\0"sv, nullptr},
    // cpio, ar and xar start with plain text, which a note or a table may
    // also start with: only their name and a reader's full look decide.
    {257, "ustar"sv, nullptr},
    {32769, "CD001"sv, nullptr},
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

ssize_t read_some(int fd, void* buf, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buf, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw Damaged(std::strerror(errno));
    return n;
}

// zlib checks each member's CRC and length, which the library's gzip filter skips.
class GzipDecoder : public Decoder {
public:
    GzipDecoder(int fd, Budget& budget) : Decoder(budget), fd_(fd), in_(1 << 16), out_(1 << 16) {
        if (inflateInit2(&zs_, 15 + 16) != Z_OK) throw Failure("out of memory");
    }
    ~GzipDecoder() override { inflateEnd(&zs_); }

private:
    size_t next(const void** buf) override {
        size_t n = 0;
        while (n == 0 && !end_) {
            if (zs_.avail_in == 0) fill();
            if (zs_.avail_in == 0) throw Damaged("the gzip data ends early");
            zs_.next_out = out_.data();
            zs_.avail_out = static_cast<uInt>(out_.size());
            int rc = inflate(&zs_, Z_NO_FLUSH);
            n = out_.size() - zs_.avail_out;
            if (rc == Z_STREAM_END) {
                end_ = !next_member();
            } else if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT) {
                throw Damaged(std::string("damaged gzip data: ") +
                              (zs_.msg != nullptr ? zs_.msg : "invalid data"));
            } else if (rc == Z_MEM_ERROR) {
                if (g_memory_limit != 0) throw Damaged(memory_message(), true);
                throw Failure("out of memory");
            }
        }
        *buf = out_.data();
        return n;
    }

    // Keeps the unread input and appends more of the file.
    void fill() {
        if (eof_) return;
        if (zs_.avail_in > 0) std::memmove(in_.data(), zs_.next_in, zs_.avail_in);
        zs_.next_in = in_.data();
        ssize_t n = read_some(fd_, in_.data() + zs_.avail_in, in_.size() - zs_.avail_in);
        if (n == 0) eof_ = true;
        zs_.avail_in += static_cast<uInt>(n);
    }

    // Another member may follow, as gzip itself writes them; zero bytes of
    // padding may follow too, but nothing else.
    bool next_member() {
        if (zs_.avail_in < 2) fill();
        if (zs_.avail_in >= 2 && zs_.next_in[0] == 0x1f && zs_.next_in[1] == 0x8b) {
            inflateReset(&zs_);
            return true;
        }
        for (;;) {
            for (uInt i = 0; i < zs_.avail_in; ++i) {
                if (zs_.next_in[i] != 0) throw Damaged("unexpected data after the gzip data");
            }
            zs_.avail_in = 0;
            if (eof_) return false;
            fill();
        }
    }

    int fd_;
    z_stream zs_{};
    std::vector<unsigned char> in_;
    std::vector<unsigned char> out_;
    bool eof_ = false;
    bool end_ = false;
};

// One of the library's in-process filters, read through its "raw" format.
class LibraryDecoder : public Decoder {
public:
    LibraryDecoder(Archive a, Budget& budget) : Decoder(budget), a_(std::move(a)) {}

private:
    size_t next(const void** buf) override {
        size_t size = 0;
        la_int64_t offset;
        int rc = archive_read_data_block(a_.get(), buf, &size, &offset);
        if (rc == ARCHIVE_EOF) return 0;
        if (rc != ARCHIVE_OK) decoding_failed(a_.get());
        return size;
    }

    Archive a_;
};

}  // namespace

Sniffed sniff(int fd) {
    std::vector<unsigned char> head(32774);
    ssize_t n;
    do {
        n = pread(fd, head.data(), head.size(), 0);
    } while (n < 0 && errno == EINTR);
    Sniffed s;
    if (n <= 0) return s;
    std::string_view got(reinterpret_cast<const char*>(head.data()), static_cast<size_t>(n));
    for (const Magic& m : kMagics) {
        if (got.size() < m.offset + m.bytes.size() ||
            got.substr(m.offset, m.bytes.size()) != m.bytes)
            continue;
        if (m.compression == nullptr) {
            s.container = true;
        } else {
            s.compression = m.compression;
            s.outside_only = !built_in(s.compression);
        }
        break;
    }
    return s;
}

namespace {

// A 7z file's list of contents, read whole into memory by the archive
// library: its size, and whether it is encrypted, are looked at first.
class SevenZipHeader {
public:
    SevenZipHeader(const unsigned char* p, size_t size) : p_(p), end_(p + size) {}

    // The coder ids of an encoded (packed) list of contents, and its unpacked size.
    bool read_encoded(std::vector<std::string>& coders, std::uint64_t& unpacked) {
        if (byte() != 0x17 || byte() != 0x06) return false;  // encoded header, pack info
        number();                                            // where the packed data is
        std::uint64_t streams = number();
        for (int id = byte(); id != 0; id = byte()) {
            if (!ok_ || id != 0x09 || streams > 64) return false;  // only sizes are expected
            for (std::uint64_t i = 0; i < streams; ++i) number();
        }
        if (byte() != 0x07 || byte() != 0x0b) return false;  // unpack info, folders
        std::uint64_t folders = number();
        if (folders == 0 || folders > 64 || byte() != 0) return false;
        std::uint64_t outs = 0;
        for (std::uint64_t f = 0; f < folders; ++f) {
            std::uint64_t n = number(), ins = 0, folder_outs = 0;
            if (n == 0 || n > 64) return false;
            for (std::uint64_t c = 0; c < n; ++c) {
                int flags = byte();
                size_t id_size = static_cast<size_t>(flags & 0x0f);
                if (!ok_ || static_cast<size_t>(end_ - p_) < id_size) return false;
                coders.emplace_back(reinterpret_cast<const char*>(p_), id_size);
                p_ += id_size;
                std::uint64_t in = 1, out = 1;
                if (flags & 0x10) in = number(), out = number();
                if (flags & 0x20) skip(number());
                if (in > 64 || out > 64) return false;
                ins += in, folder_outs += out;
            }
            for (std::uint64_t b = 1; b < folder_outs; ++b) number(), number();
            std::uint64_t packed = ins - (folder_outs - 1);
            if (packed > 1) {
                for (std::uint64_t k = 0; k < packed; ++k) number();
            }
            outs += folder_outs;
        }
        if (byte() != 0x0c) return false;  // unpack sizes
        unpacked = 0;
        for (std::uint64_t i = 0; i < outs; ++i) unpacked = std::max(unpacked, number());
        return ok_;
    }

private:
    int byte() {
        if (p_ >= end_) {
            ok_ = false;
            return -1;
        }
        return *p_++;
    }
    void skip(std::uint64_t n) {
        if (n > static_cast<std::uint64_t>(end_ - p_)) {
            ok_ = false;
            p_ = end_;
        } else {
            p_ += n;
        }
    }
    // 7z's variable-length number: leading one bits say how many bytes follow.
    std::uint64_t number() {
        int first = byte();
        if (first < 0) return 0;
        std::uint64_t value = 0;
        int mask = 0x80;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0) {
                return value | (static_cast<std::uint64_t>(first & (mask - 1)) << (8 * i));
            }
            int b = byte();
            if (b < 0) return 0;
            value |= static_cast<std::uint64_t>(b) << (8 * i);
            mask >>= 1;
        }
        return value;
    }

    const unsigned char* p_;
    const unsigned char* end_;
    bool ok_ = true;
};

std::uint64_t le64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

bool pread_all(int fd, unsigned char* buf, size_t size, off_t at) {
    while (size > 0) {
        ssize_t n = pread(fd, buf, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n, size -= static_cast<size_t>(n), at += n;
    }
    return true;
}

}  // namespace

std::optional<std::string> sevenzip_problem(int fd, const Limits& limits) {
    unsigned char start[32];
    if (!pread_all(fd, start, sizeof start, 0) ||
        std::memcmp(start, "7z\xbc\xaf\x27\x1c", 6) != 0) {
        return std::nullopt;
    }
    // Its list of contents and what decoding it takes are held in memory at once.
    std::uint64_t most = limits.max_memory == 0 ? 0 : limits.max_memory / 4;
    auto too_large = [&](std::uint64_t size) {
        return "its list of contents is " + human_size(size) + ", more than " + human_size(most) +
               " (a quarter of the memory limit); set KORVU_MAX_MEMORY to allow more";
    };
    std::uint64_t offset = le64(start + 12), size = le64(start + 20);
    struct stat st;
    // One that claims more than the file holds is damaged, which the reader tells.
    if (fstat(fd, &st) != 0 || offset > static_cast<std::uint64_t>(st.st_size) ||
        size > static_cast<std::uint64_t>(st.st_size) - offset) {
        return std::nullopt;
    }
    if (most != 0 && size > most) return too_large(size);
    if (size == 0 || size > (1u << 20) || offset > (1ull << 62)) return std::nullopt;
    std::vector<unsigned char> header(static_cast<size_t>(size));
    if (!pread_all(fd, header.data(), header.size(), static_cast<off_t>(32 + offset))) {
        return std::nullopt;
    }
    std::vector<std::string> coders;
    std::uint64_t unpacked = 0;
    if (!SevenZipHeader(header.data(), header.size()).read_encoded(coders, unpacked)) {
        return std::nullopt;
    }
    for (const std::string& id : coders) {
        if (id == "\x06\xf1\x07\x01") {
            return std::string(
                "its list of contents is encrypted (the archive has a password), "
                "and korvu-sample cannot decrypt");
        }
    }
    if (most != 0 && unpacked > most) return too_large(unpacked);
    return std::nullopt;
}

bool named_like_archive(const std::string& name) {
    static const char* const kExtensions[] = {".zip", ".tar", ".tgz",  ".tbz",  ".tbz2", ".tb2",
                                              ".txz", ".tlz", ".tzst", ".taz",  ".7z",   ".rar",
                                              ".cab", ".xar", ".iso",  ".cpio", ".lha",  ".lzh"};
    std::string n = lower(name);
    size_t dot = n.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = n.substr(dot);
    for (const char* e : kExtensions) {
        if (ext == e) return true;
    }
    // "a.tar.gz", "a.tar.zst", ...
    return dot >= 5 && n.compare(dot - 4, 4, ".tar") == 0;
}

std::unique_ptr<Decoder> Decoder::open(int fd, const Sniffed& sniffed, Budget& budget) {
    if (sniffed.compression == "gzip") return std::make_unique<GzipDecoder>(fd, budget);
    Archive a(archive_read_new(), archive_read_free);
    if (!a) throw Failure("out of memory");
    for (const Filter& f : kFilters) {
        if (built_in(f)) f.enable(a.get());
    }
    archive_read_support_format_raw(a.get());
    archive_entry* entry;
    int rc = archive_read_open_fd(a.get(), fd, 1 << 16);
    if (rc == ARCHIVE_OK && archive_filter_count(a.get()) > 1) {
        if (archive_read_next_header(a.get(), &entry) != ARCHIVE_OK) decoding_failed(a.get());
        return std::unique_ptr<Decoder>(new LibraryDecoder(std::move(a), budget));
    }
    if (!sniffed.compression.empty()) {
        if (rc == ARCHIVE_OK) throw Damaged("not valid " + sniffed.compression + " data");
        decoding_failed(a.get());
    }
    a.reset();
    if (lseek(fd, 0, SEEK_SET) != 0) throw Damaged(std::strerror(errno));
    return nullptr;
}

int Decoder::attach(archive* a) { return archive_read_open(a, this, nullptr, feed, nullptr); }

la_ssize_t Decoder::feed(archive* a, void* self, const void** buf) {
    auto* d = static_cast<Decoder*>(self);
    try {
        return static_cast<la_ssize_t>(d->counted(buf));
    } catch (const Damaged& e) {
        d->damage_ = e.what();
        d->memory_ = e.short_of_memory();
    } catch (...) {
        d->pending_ = std::current_exception();
    }
    archive_set_error(a, EILSEQ, "%s", d->damage_.empty() ? "stopped" : d->damage_.c_str());
    return -1;
}

size_t Decoder::counted(const void** buf) {
    check_stop();
    size_t n = next(buf);
    total_ += n;
    budget_.decoded(total_);
    return n;
}

std::string Decoder::failure() {
    if (pending_) std::rethrow_exception(pending_);
    return damage_;
}

void Decoder::drain() {
    const void* buf;
    while (counted(&buf) > 0) {
    }
}

}  // namespace korvu
