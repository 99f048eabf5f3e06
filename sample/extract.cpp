#include "extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "names.h"
#include "source.h"
#ifdef _WIN32
#include "disk_win.h"
#include "fs_win.h"
#endif

namespace korvu {
namespace {

using Archive = std::unique_ptr<archive, int (*)(archive*)>;

constexpr int kDiskFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_NO_OVERWRITE |
                           ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                           ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

// Archive formats only; compression is the Decoder's. Left out: mtree, a
// manifest whose lines name other files on this disk (extracting it would
// copy them); raw and empty, which would make any file an archive; warc, web
// crawl records, which nobody drops here to get a folder.
Archive new_reader() {
    Archive r(archive_read_new(), archive_read_free);
    if (!r) throw Failure("out of memory");
    archive* a = r.get();
    archive_read_support_format_7zip(a);
    archive_read_support_format_ar(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_cpio(a);
    archive_read_support_format_iso9660(a);
    archive_read_support_format_lha(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_xar(a);
    archive_read_support_format_zip(a);
    return r;
}

std::string entry_name(archive_entry* e) {
#ifdef _WIN32
    // Names are UTF-8 throughout, from the wide form: the narrow one is in a
    // code page. Windows takes either slash between folders.
    const wchar_t* p = archive_entry_pathname_w(e);
    std::string name = p != nullptr ? utf8(p) : "";
    for (char& c : name) c = c == '\\' ? '/' : c;
    return name;
#else
    const char* p = archive_entry_pathname(e);
    return p != nullptr ? p : "";
#endif
}

// Device nodes and FIFOs from an archive could expose hardware or hang readers.
bool wanted(archive_entry* e) {
    if (archive_entry_hardlink(e) != nullptr) return true;
    mode_t type = archive_entry_filetype(e);
    return type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK;
}

int base_format(archive* a) { return archive_format(a) & ARCHIVE_FORMAT_BASE_MASK; }

// Formats whose signature is plain text, which notes and tables may start
// with too: they count as archives only when named as such.
bool text_signature(int format) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
        case ARCHIVE_FORMAT_CPIO:
            return format != ARCHIVE_FORMAT_CPIO_BIN_LE && format != ARCHIVE_FORMAT_CPIO_BIN_BE;
        case ARCHIVE_FORMAT_AR:
        case ARCHIVE_FORMAT_XAR:
            return true;
        default:
            return false;
    }
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

bool ends_with(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() > n && s.compare(s.size() - n, n, tail) == 0;
}

bool named_for(const std::string& file_name, int format) {
    std::string n = lower(file_name);
    for (const char* z : {".gz", ".bz2", ".xz", ".zst", ".lz", ".lz4", ".lzma", ".z"}) {
        if (ends_with(n, z)) {
            n.resize(n.size() - std::strlen(z));
            break;
        }
    }
    std::vector<const char*> exts;
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
        case ARCHIVE_FORMAT_CPIO:
            exts = {".cpio"};
            break;
        case ARCHIVE_FORMAT_AR:
            exts = {".a", ".ar", ".lib", ".deb", ".udeb", ".ipk"};
            break;
        default:
            exts = {".xar", ".pkg"};
            break;
    }
    for (const char* e : exts) {
        if (ends_with(n, e)) return true;
    }
    return false;
}

bool out_of_memory(archive* a, int err) {
    return g_memory_limit != 0 && (archive_errno(a) == ENOMEM || err == ENOMEM);
}

class Extractor {
public:
    // `out` is the new folder, which is also the current one.
    Extractor(archive* r, int out, bool fold_case, Decoder* decoder, Budget& budget,
              const std::string& shown, std::uint64_t archive_size)
        : r_(r),
#ifdef _WIN32
          disk_(out),
#endif
          w_(archive_write_disk_new(), archive_write_free),
          out_(out),
          decoder_(decoder),
          budget_(budget),
          shown_(shown),
          archive_size_(archive_size),
          names_(fold_case) {
        if (!w_) throw Failure("out of memory");
        archive_write_disk_set_options(w_.get(), kDiskFlags);
    }
    Extractor(const Extractor&) = delete;
    Extractor& operator=(const Extractor&) = delete;

    // A failed run leaves the disk writer holding the file it was filling,
    // which would keep that file (and so the folder) from going on some file
    // systems, and on closing would first stretch it to its declared size.
    // Its descriptor is pointed at the folder instead, where that does nothing.
    ~Extractor() {
#ifndef _WIN32
        if (open_ < 0) return;
        struct stat folder;
        if (fstat(out_, &folder) != 0 || dup2(out_, open_) != open_) return;
        w_.reset();
        struct stat st;
        if (fstat(open_, &st) == 0 && st.st_dev == folder.st_dev && st.st_ino == folder.st_ino) {
            close(open_);
        }
#endif
    }

    // `e` is null for an archive without entries.
    void run(archive_entry* e, int rc) {
        bool tar = base_format(r_) == ARCHIVE_FORMAT_TAR;
        while (e != nullptr) {
            check_stop();
            ++index_;
            std::string name = entry_name(e);
            // A warning from the reader means a checksum or format error.
            if (rc != ARCHIVE_OK && name.empty()) {
                // Its name is all the reader could not give.
                fail(label(name) +
                     ": its name is not valid in the character set the archive gives for it (" +
                     reason(r_) + ")");
            }
            if (rc != ARCHIVE_OK) fail(r_, name);
            budget_.count_entry(label(name));
            if (g_entry_hook != nullptr) g_entry_hook(name);
            // Members with no type at all (ar, some cpio) hold a file's data.
            if (archive_entry_filetype(e) == 0 && archive_entry_hardlink(e) == nullptr) {
                archive_entry_set_filetype(e, AE_IFREG);
            }
            if (base_format(r_) == ARCHIVE_FORMAT_AR && name == "/") {
                // The symbol table of a library, not one of its members.
                skip_data(name);
#ifdef _WIN32
            } else if (archive_entry_filetype(e) == AE_IFLNK || archive_entry_hardlink(e)) {
                std::cerr << "korvu-sample: skipping " << quote(name) << " in " << quote(shown_)
                          << ": links are not extracted on Windows\n";
                g_skipped = true;
                skip_data(name);
#endif
            } else if (wanted(e)) {
                write_entry(e, name);
            } else {
                std::cerr << "korvu-sample: skipping " << quote(name) << " in " << quote(shown_)
                          << ": not a file, folder or symbolic link\n";
                g_skipped = true;
                skip_data(name);
            }
            last_ = name;
            la_int64_t before = archive_filter_bytes(r_, 0);
            errno = 0;
            rc = archive_read_next_header(r_, &e);
            int err = errno;
            if (rc == ARCHIVE_EOF) {
                // A tar cut just before a header reads as complete, except
                // that there were no end-of-archive blocks to consume.
                if (tar && archive_filter_bytes(r_, 0) == before) {
                    fail_after(last_, "the archive ends early");
                }
                break;
            }
            if (out_of_memory(r_, err)) fail_after(last_, memory_message());
            // A damaged header the reader could step over is damage all the same.
            if (rc < ARCHIVE_WARN || rc == ARCHIVE_RETRY) fail_after(last_, reason(r_));
        }
        if (decoder_ != nullptr) {
            try {
                decoder_->drain();
            } catch (const Damaged& d) {
                fail_after(last_, d.what());
            }
        }
        rc = archive_write_close(w_.get());
        if (rc < ARCHIVE_WARN) fail(w_.get(), "");
        if (rc == ARCHIVE_WARN) warn("", w_.get());
        budget_.release();
    }

private:
    void write_entry(archive_entry* e, const std::string& name) {
        // Never hand out set-id or sticky bits from someone else's archive.
        archive_entry_set_perm(e, archive_entry_perm(e) & 0777);
        const char* link_to = archive_entry_hardlink(e);
        OutputNames::Placed placed = check_place(e, name);
        if (placed.disk_path) {
            archive_entry_copy_pathname(e, placed.disk_path->c_str());
            if (!placed.twins.empty()) {
                std::cerr << "korvu-sample: warning: " << quote(name) << " in " << quote(shown_)
                          << " is extracted as " << quote(*placed.disk_path)
                          << ": this file system does not tell it from an earlier name that "
                             "differs only in case\n";
            }
        }
        la_int64_t declared = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
        bool data = link_to == nullptr || gets_data(e, link_to, placed.id, declared);
        if (!data) {
            // Data after a hard link would go into the file it links to, an
            // earlier entry: the link shares that file's data and nothing more.
            archive_entry_set_size(e, 0);
            declared = 0;
        } else if (declared > 0 && decoder_ == nullptr && stored_plain() &&
                   archive_entry_sparse_count(e) == 0) {
            la_int64_t at = archive_filter_bytes(r_, 0);
            if (at >= 0 && static_cast<std::uint64_t>(at) + static_cast<std::uint64_t>(declared) >
                               archive_size_) {
                fail(quote(name) + ": the archive ends early, in the middle of this entry");
            }
        }
        if (link_to == nullptr && archive_entry_filetype(e) == AE_IFREG && declared == 0 &&
            archive_entry_nlink(e) > 1) {
            // newc cpio gives a file's data with the last of its links.
            awaiting_data_.insert(placed.id);
        }
        // Counted at the declared size, which a sparse entry also has.
        budget_.begin_entry(name, declared > 0 ? static_cast<std::uint64_t>(declared) : 0,
                            placed.new_folders);
#ifdef _WIN32
        if (std::optional<std::string> why = disk_.begin(e, placed.disk_path.value_or(name)))
            fail(quote(name) + ": " + *why);
        int rc;
#else
        int lowest_free = fcntl(out_, F_DUPFD_CLOEXEC, 0);
        if (lowest_free >= 0) close(lowest_free);
        int rc = archive_write_header(w_.get(), e);
        if (rc < ARCHIVE_WARN) fail(w_.get(), name);
        if (rc == ARCHIVE_WARN) warn(name, w_.get());
#endif
        if (!data) {
            skip_data(name);
        } else {
#ifndef _WIN32
            if (archive_entry_filetype(e) == AE_IFREG || link_to != nullptr) {
                open_ = writer_descriptor(archive_entry_pathname(e), lowest_free);
            }
#endif
            const void* buf;
            size_t size;
            la_int64_t offset;
            for (;;) {
                rc = archive_read_data_block(r_, &buf, &size, &offset);
                if (rc == ARCHIVE_EOF) break;
                if (rc != ARCHIVE_OK) fail(r_, name);
                budget_.grow_entry(static_cast<std::uint64_t>(offset) + size);
#ifdef _WIN32
                if (std::optional<std::string> why = disk_.data(buf, size, offset))
                    fail(quote(name) + ": " + *why);
#else
                // A failed write() is only a warning to the library; for us it is lost data.
                if (archive_write_data_block(w_.get(), buf, size, offset) < ARCHIVE_OK) {
                    fail(w_.get(), name);
                }
#endif
                budget_.wrote(static_cast<std::uint64_t>(offset) + size);
                check_stop();
            }
        }
#ifdef _WIN32
        if (std::optional<std::string> why = disk_.finish()) fail(quote(name) + ": " + *why);
        (void)rc;
#else
        rc = archive_write_finish_entry(w_.get());
        if (rc < ARCHIVE_WARN) fail(w_.get(), name);
        open_ = -1;
        if (rc == ARCHIVE_WARN) warn(name, w_.get());
#endif
    }

    // Whether a hard link may carry data: only into a file of several links
    // that came without any, and only once, so that a link never rewrites an
    // earlier file. Points the link at where its target went on disk.
    bool gets_data(archive_entry* e, const char* link_to, std::uint32_t id, la_int64_t declared) {
        std::optional<std::uint32_t> target = names_.find(OutputNames::split(link_to));
        if (!target) return false;
        if (std::optional<std::string> moved = names_.disk_path(*target)) {
            archive_entry_copy_hardlink(e, moved->c_str());
        }
        auto group = link_group_.find(*target);
        std::uint32_t file = group == link_group_.end() ? *target : group->second;
        link_group_.emplace(id, file);
        return declared > 0 && awaiting_data_.erase(file) > 0;
    }

#ifndef _WIN32
    // The descriptor the disk writer just opened for `path`, found among the
    // few numbers from `from` on; -1 when it cannot be told.
    static int writer_descriptor(const char* path, int from) {
        struct stat want;
        if (from < 0 || path == nullptr ||
            fstatat(AT_FDCWD, path, &want, AT_SYMLINK_NOFOLLOW) != 0) {
            return -1;
        }
        for (int fd = from; fd < from + 8; ++fd) {
            struct stat st;
            if (fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino &&
                (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
                return fd;
            }
        }
        return -1;
    }
#endif

    // Formats whose entries lie in the file as they are, size for size.
    bool stored_plain() const {
        int f = base_format(r_);
        return f == ARCHIVE_FORMAT_TAR || f == ARCHIVE_FORMAT_CPIO || f == ARCHIVE_FORMAT_AR;
    }

    // Data not written still has to be decoded, so it counts like output,
    // and a stop is seen between its blocks.
    void skip_data(const std::string& name) {
        const void* buf;
        size_t size;
        la_int64_t offset;
        for (;;) {
            check_stop();
            int rc = archive_read_data_block(r_, &buf, &size, &offset);
            if (rc == ARCHIVE_EOF) return;
            if (rc != ARCHIVE_OK) fail(r_, name);
            budget_.skipped(label(name), size);
        }
    }

    // The disk writer replaces an earlier symbolic link of the same name even
    // when told never to overwrite, so every clash is looked for here.
    OutputNames::Placed check_place(archive_entry* e, const std::string& name) {
        std::vector<std::string> parts = OutputNames::split(name);
        if (parts.size() > Limits::kMaxDepth) {
            fail(quote(name) + " is nested more than " + std::to_string(Limits::kMaxDepth) +
                 " levels deep");
        }
        bool folder = archive_entry_filetype(e) == AE_IFDIR && archive_entry_hardlink(e) == nullptr;
        OutputNames::Placed placed = names_.add(parts, folder);
        if (placed.result == OutputNames::Result::Replaces) {
            throw Failure("cannot extract " + quote(shown_) + ": unsafe archive: " + quote(name) +
                          " would replace an earlier entry of the same name");
        }
        return placed;
    }

    // An entry by its name, or by its place when its name cannot be read.
    std::string label(const std::string& name) const {
        if (!name.empty()) return quote(name);
        return "entry " + std::to_string(index_) +
               (last_.empty() ? "" : " (after " + quote(last_) + ")");
    }

    std::string reason(archive* a) {
        if (decoder_ != nullptr && a == r_) {
            std::string damage = decoder_->failure();
            if (!damage.empty()) return damage;
        }
        return archive_error_string(a) != nullptr ? archive_message(a)
                                                  : "damaged or truncated data";
    }

    void warn(const std::string& name, archive* a) {
        std::cerr << "korvu-sample: warning: " << quote(shown_) << ": "
                  << (name.empty() ? "" : quote(name) + ": ") << archive_message(a) << "\n";
    }

    [[noreturn]] void fail(archive* a, const std::string& name) {
        int err = errno;
        std::string why = a == r_ && out_of_memory(a, err) ? memory_message() : reason(a);
        throw Failure("cannot extract " + quote(shown_) + ": " +
                      (name.empty() ? "" : quote(name) + ": ") + why);
    }

    [[noreturn]] void fail(const std::string& why) {
        throw Failure("cannot extract " + quote(shown_) + ": " + why);
    }

    [[noreturn]] void fail_after(const std::string& last, const std::string& why) {
        throw Failure("cannot extract " + quote(shown_) + ": " + why +
                      (last.empty() ? "" : ", after " + quote(last)));
    }

    archive* r_;
#ifdef _WIN32
    WinDisk disk_;
#endif
    Archive w_;
    int out_;
    int open_ = -1;  // the disk writer's descriptor of the file being filled
    Decoder* decoder_;
    Budget& budget_;
    const std::string& shown_;
    std::uint64_t archive_size_;
    OutputNames names_;
    std::unordered_set<std::uint32_t> awaiting_data_;  // files whose data comes with a link
    std::unordered_map<std::uint32_t, std::uint32_t> link_group_;  // link -> file it shares
    std::uint64_t index_ = 0;
    std::string last_;
};

}  // namespace

std::optional<std::string> extract_if_archive(const Target& target, int fd, const struct stat& st,
                                              const std::string& shown, const Limits& limits) {
    Sniffed sniffed = sniff(fd);
    if (sniffed.outside_only) {
        throw Failure("cannot extract " + quote(shown) + ": it is " + sniffed.compression +
                      "-compressed, which only an outside program can read, and korvu-sample "
                      "runs no outside programs");
    }
    bool looks_like_archive = sniffed.container || named_like_archive(target.name);
    if (sniffed.compression.empty()) {
        if (std::optional<std::string> why = sevenzip_problem(fd, limits)) {
            throw Failure("cannot extract " + quote(shown) + ": " + *why);
        }
    }
    {
        Budget budget(limits, static_cast<std::uint64_t>(st.st_size), target.dir.get(), shown);
        std::unique_ptr<Decoder> decoder;
        try {
            decoder = Decoder::open(fd, sniffed, budget);
        } catch (const Damaged& d) {
            throw Failure("cannot extract " + quote(shown) + ": " +
                          (d.short_of_memory() ? "" : "it is damaged: ") + d.what());
        }
        Archive r = new_reader();
        int rc = decoder ? decoder->attach(r.get()) : archive_read_open_fd(r.get(), fd, 1 << 16);
        archive_entry* first = nullptr;
        errno = 0;
        if (rc == ARCHIVE_OK) rc = archive_read_next_header(r.get(), &first);
        int err = errno;
        std::string damage = decoder ? decoder->failure() : "";
        bool damaged_stream = !damage.empty() && !sniffed.compression.empty();
        int format = archive_format(r.get());
        // A file no archive reader recognises is just a file, and so is a
        // "tar" of nothing but zero blocks, such as an empty disk image,
        // unless its name or signature says it is an archive of nothing.
        bool is_archive =
            rc == ARCHIVE_OK || rc == ARCHIVE_WARN ||
            (rc == ARCHIVE_EOF && format != 0 && looks_like_archive) ||
            (rc != ARCHIVE_EOF && (format != 0 || looks_like_archive || damaged_stream));
        // A table starting "070701," or a note starting "!<arch>" is no archive.
        if (is_archive && text_signature(format) && !named_for(target.name, format)) {
            is_archive = false;
        }
        if (is_archive && (rc < ARCHIVE_WARN || rc == ARCHIVE_RETRY)) {
            if (out_of_memory(r.get(), err) || (decoder && decoder->short_of_memory())) {
                throw Failure("cannot extract " + quote(shown) + ": " + memory_message());
            }
            if (damage.empty()) {
                damage = archive_error_string(r.get()) != nullptr ? archive_message(r.get())
                                                                  : "damaged or truncated data";
            }
            throw Failure("cannot extract " + quote(shown) +
                          ": it is damaged or not a supported archive: " + damage);
        }
        if (is_archive) {
            TempEntry tmp(target.out(), TempEntry::Kind::Folder, target.dir_shown());
            try {
                budget.output_in(tmp.fd());
                bool fold_case = folds_case(tmp.fd());
                // The secure-extraction checks work on paths relative to the current folder.
                WorkIn in(tmp.fd(), "cannot extract " + quote(shown));
                Extractor(r.get(), tmp.fd(), fold_case, decoder.get(), budget, shown,
                          static_cast<std::uint64_t>(st.st_size))
                    .run(rc == ARCHIVE_EOF ? nullptr : first, rc);
            } catch (...) {
                // Nothing of the run may stay open while its folder goes.
                budget.release();
                throw;
            }
#ifndef _WIN32
            if (fchmod(tmp.fd(), 0777 & ~g_umask) != 0) {
                fail_errno("cannot extract " + quote(shown), errno);
            }
#endif
            tmp.close_fd();
            check_stop();
            return tmp.keep();
        }
    }
    if (lseek(fd, 0, SEEK_SET) != 0) fail_errno("cannot read " + quote(shown), errno);
    return std::nullopt;
}

}  // namespace korvu
