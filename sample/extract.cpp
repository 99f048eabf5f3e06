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
#include <vector>

#include "source.h"

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
    const char* p = archive_entry_pathname(e);
    return p != nullptr ? p : "";
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

// The names in the folder being filled. The folder is new, so everything in
// it came from earlier entries or is a folder above one of them; keeping the
// names here, rather than looking on disk, makes each check cost the length
// of the entry's name and not the depth of the tree times that.
class OutputNames {
public:
    enum class Result { Added, Replaces, Unchecked };

    // Splits a name as the disk writer does; empty for names it refuses
    // anyway (absolute, "..").
    static std::vector<std::string> split(const std::string& path) {
        std::vector<std::string> parts;
        if (path.empty() || path[0] == '/') return parts;
        for (size_t at = 0; at <= path.size();) {
            size_t slash = path.find('/', at);
            if (slash == std::string::npos) slash = path.size();
            std::string part = path.substr(at, slash - at);
            if (part == "..") return {};
            if (!part.empty() && part != ".") parts.push_back(std::move(part));
            at = slash + 1;
        }
        return parts;
    }

    // Records an entry; Replaces when it would take the place of an earlier
    // one (a folder listed again only adds to what is in it).
    Result add(const std::vector<std::string>& parts, bool folder) {
        if (parts.empty()) return Result::Unchecked;
        // Archives list a folder's entries together: start where the last name branched off.
        size_t k = 0;
        while (k + 1 < parts.size() && k + 1 < last_.size() && parts[k] == last_[k] &&
               folder_[last_ids_[k + 1]]) {
            ++k;
        }
        last_ids_.resize(k + 1);
        std::uint32_t at = last_ids_[k];
        for (size_t i = k; i + 1 < parts.size(); ++i) {
            auto found = kids_.find(Key{at, parts[i]});
            if (found == kids_.end()) {
                at = insert(at, parts[i], true);
            } else if (!folder_[found->second]) {
                // Through a file: the disk writer refuses that itself.
                last_.clear();
                last_ids_.assign(1, 0);
                return Result::Unchecked;
            } else {
                at = found->second;
            }
            last_ids_.push_back(at);
        }
        Result result = Result::Added;
        auto found = kids_.find(Key{at, parts.back()});
        if (found == kids_.end()) {
            last_ids_.push_back(insert(at, parts.back(), folder));
        } else {
            if (!(folder && folder_[found->second])) result = Result::Replaces;
            last_ids_.push_back(found->second);
        }
        last_ = parts;
        return result;
    }

private:
    struct Key {
        std::uint32_t parent;
        std::string name;
        bool operator==(const Key& o) const { return parent == o.parent && name == o.name; }
    };
    struct KeyHash {
        size_t operator()(const Key& k) const {
            return std::hash<std::string>()(k.name) * 31 + k.parent;
        }
    };

    std::uint32_t insert(std::uint32_t parent, const std::string& name, bool folder) {
        auto id = static_cast<std::uint32_t>(folder_.size());
        folder_.push_back(folder);
        kids_.emplace(Key{parent, name}, id);
        return id;
    }

    std::unordered_map<Key, std::uint32_t, KeyHash> kids_;
    std::vector<bool> folder_{true};  // by id; 0 is the new folder itself
    std::vector<std::string> last_;
    std::vector<std::uint32_t> last_ids_{0};
};

bool out_of_memory(archive* a, int err) {
    return g_memory_limit != 0 && (archive_errno(a) == ENOMEM || err == ENOMEM);
}

class Extractor {
public:
    Extractor(archive* r, archive* w, Decoder* decoder, Budget& budget, const std::string& shown,
              std::uint64_t archive_size)
        : r_(r),
          w_(w),
          decoder_(decoder),
          budget_(budget),
          shown_(shown),
          archive_size_(archive_size) {}

    void run(archive_entry* e, int rc) {
        bool tar = base_format(r_) == ARCHIVE_FORMAT_TAR;
        for (;;) {
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
            // Members with no type at all (ar, some cpio) hold a file's data.
            if (archive_entry_filetype(e) == 0 && archive_entry_hardlink(e) == nullptr) {
                archive_entry_set_filetype(e, AE_IFREG);
            }
            if (base_format(r_) == ARCHIVE_FORMAT_AR && name == "/") {
                // The symbol table of a library, not one of its members.
                skip_data(name);
            } else if (wanted(e)) {
                write_entry(e, name);
            } else {
                std::cerr << "korvu-sample: skipping " << quote(name) << " in " << quote(shown_)
                          << ": not a file, folder or symbolic link\n";
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
        rc = archive_write_close(w_);
        if (rc < ARCHIVE_WARN) fail(w_, "");
        if (rc == ARCHIVE_WARN) warn("", w_);
        budget_.release();
    }

private:
    void write_entry(archive_entry* e, const std::string& name) {
        // Never hand out set-id or sticky bits from someone else's archive.
        archive_entry_set_perm(e, archive_entry_perm(e) & 0777);
        bool link = archive_entry_hardlink(e) != nullptr;
        check_place(e, name);
        la_int64_t declared = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
        if (link) {
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
        // Counted at the declared size, which a sparse entry also has.
        budget_.begin_entry(name, declared > 0 ? static_cast<std::uint64_t>(declared) : 0);
        int rc = archive_write_header(w_, e);
        if (rc < ARCHIVE_WARN) fail(w_, name);
        if (rc == ARCHIVE_WARN) warn(name, w_);
        if (link) {
            skip_data(name);
        } else {
            const void* buf;
            size_t size;
            la_int64_t offset;
            for (;;) {
                rc = archive_read_data_block(r_, &buf, &size, &offset);
                if (rc == ARCHIVE_EOF) break;
                if (rc != ARCHIVE_OK) fail(r_, name);
                budget_.grow_entry(static_cast<std::uint64_t>(offset) + size);
                // A failed write() is only a warning to the library; for us it is lost data.
                if (archive_write_data_block(w_, buf, size, offset) < ARCHIVE_OK) fail(w_, name);
                check_stop();
            }
        }
        rc = archive_write_finish_entry(w_);
        if (rc < ARCHIVE_WARN) fail(w_, name);
        if (rc == ARCHIVE_WARN) warn(name, w_);
    }

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
    void check_place(archive_entry* e, const std::string& name) {
        std::vector<std::string> parts = OutputNames::split(name);
        if (parts.size() > Limits::kMaxDepth) {
            fail(quote(name) + " is nested more than " + std::to_string(Limits::kMaxDepth) +
                 " levels deep");
        }
        bool folder = archive_entry_filetype(e) == AE_IFDIR && archive_entry_hardlink(e) == nullptr;
        if (names_.add(parts, folder) == OutputNames::Result::Replaces) {
            throw Failure("cannot extract " + quote(shown_) + ": unsafe archive: " + quote(name) +
                          " would replace an earlier entry of the same name");
        }
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
    archive* w_;
    Decoder* decoder_;
    Budget& budget_;
    const std::string& shown_;
    std::uint64_t archive_size_;
    OutputNames names_;
    std::uint64_t index_ = 0;
    std::string last_;
};

}  // namespace

std::optional<std::string> extract_if_archive(const Target& target, int fd, const struct stat& st,
                                              const std::string& shown, const Limits& limits,
                                              const Announce& announce) {
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
            throw Failure("cannot extract " + quote(shown) + ": it is damaged: " + d.what());
        }
        Archive r = new_reader();
        int rc = decoder ? decoder->attach(r.get()) : archive_read_open_fd(r.get(), fd, 1 << 16);
        archive_entry* first = nullptr;
        errno = 0;
        if (rc == ARCHIVE_OK) rc = archive_read_next_header(r.get(), &first);
        int err = errno;
        std::string damage = decoder ? decoder->failure() : "";
        bool damaged_stream = !damage.empty() && !sniffed.compression.empty();
        // A file no archive reader recognises is just a file, and so is a
        // "tar" of nothing but zero blocks, such as an empty disk image.
        bool is_archive = rc == ARCHIVE_OK || rc == ARCHIVE_WARN ||
                          (rc != ARCHIVE_EOF &&
                           (archive_format(r.get()) != 0 || looks_like_archive || damaged_stream));
        // A table starting "070701," or a note starting "!<arch>" is no archive.
        if (is_archive && text_signature(archive_format(r.get())) &&
            !named_for(target.name, archive_format(r.get()))) {
            is_archive = false;
        }
        if (is_archive && (rc < ARCHIVE_WARN || rc == ARCHIVE_RETRY)) {
            if (out_of_memory(r.get(), err)) {
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
            TempEntry tmp(target.dir.get(), TempEntry::Kind::Folder, target.dir_shown());
            Fd old_cwd(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
            // The secure-extraction checks work on paths relative to the current folder.
            if (fchdir(tmp.fd()) != 0) fail_errno("cannot extract " + quote(shown), errno);
            {
                Archive w(archive_write_disk_new(), archive_write_free);
                if (!w) throw Failure("out of memory");
                archive_write_disk_set_options(w.get(), kDiskFlags);
                Extractor(r.get(), w.get(), decoder.get(), budget, shown,
                          static_cast<std::uint64_t>(st.st_size))
                    .run(first, rc);
            }
            if (old_cwd.get() >= 0 && fchdir(old_cwd.get()) != 0) {
                fail_errno("cannot extract " + quote(shown), errno);
            }
            if (fchmod(tmp.fd(), 0777 & ~g_umask) != 0) {
                fail_errno("cannot extract " + quote(shown), errno);
            }
            tmp.close_fd();
            check_stop();
            std::string stem = archive_stem(target.name);
            return tmp.publish(
                [&](int n) { return numbered(stem, n); }, target.dir_prefix,
                [&](const std::string& made) { announce(target.dir_prefix + made); });
        }
    }
    if (lseek(fd, 0, SEEK_SET) != 0) fail_errno("cannot read " + quote(shown), errno);
    return std::nullopt;
}

}  // namespace korvu
