#include "extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <memory>
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

// What already exists at `path` in the folder being filled (the current one),
// looked up one component at a time so that no length or link gets in the
// way. False for names the disk writer refuses anyway (absolute, "..").
bool find_in_output(const std::string& path, struct stat& st) {
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(at, slash - at);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        at = slash + 1;
    }
    if (parts.empty() || path[0] == '/') return false;
    auto missing = [](int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; };
    Fd dir(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) fail_errno("cannot check " + quote(path), errno);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        Fd next(openat(dir.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            if (missing(errno)) return false;
            fail_errno("cannot check " + quote(path), errno);
        }
        dir = std::move(next);
    }
    if (fstatat(dir.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (missing(errno)) return false;
    fail_errno("cannot check " + quote(path), errno);
}

class Extractor {
public:
    Extractor(archive* r, archive* w, Decoder* decoder, Budget& budget, const std::string& shown)
        : r_(r), w_(w), decoder_(decoder), budget_(budget), shown_(shown) {}

    void run(archive_entry* e, int rc) {
        bool tar = (archive_format(r_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
        std::string last;
        for (;;) {
            check_stop();
            std::string name = entry_name(e);
            // A warning from the reader means a checksum or format error.
            if (rc != ARCHIVE_OK) fail(r_, name);
            if (wanted(e)) {
                write_entry(e, name);
            } else {
                std::cerr << "korvu-sample: skipping " << quote(name) << " in " << quote(shown_)
                          << ": not a file, folder or symbolic link\n";
                if (archive_read_data_skip(r_) != ARCHIVE_OK) fail(r_, name);
            }
            last = name;
            la_int64_t before = archive_filter_bytes(r_, 0);
            rc = archive_read_next_header(r_, &e);
            if (rc == ARCHIVE_EOF) {
                // A tar cut just before a header reads as complete, except
                // that there were no end-of-archive blocks to consume.
                if (tar && archive_filter_bytes(r_, 0) == before) {
                    fail_after(last, "the archive ends early");
                }
                break;
            }
            if (rc < ARCHIVE_WARN) fail_after(last, reason(r_));
        }
        if (decoder_ != nullptr) {
            try {
                decoder_->drain();
            } catch (const Damaged& d) {
                fail_after(last, d.what());
            }
        }
        rc = archive_write_close(w_);
        if (rc < ARCHIVE_WARN) fail(w_, "");
        if (rc == ARCHIVE_WARN) warn("", w_);
    }

private:
    void write_entry(archive_entry* e, const std::string& name) {
        // Never hand out set-id or sticky bits from someone else's archive.
        archive_entry_set_perm(e, archive_entry_perm(e) & 0777);
        refuse_replacing(e, name);
        // Counted at the declared size, which a sparse entry also has.
        la_int64_t declared = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
        budget_.begin_entry(name, declared > 0 ? static_cast<std::uint64_t>(declared) : 0);
        int rc = archive_write_header(w_, e);
        if (rc < ARCHIVE_WARN) fail(w_, name);
        if (rc == ARCHIVE_WARN) warn(name, w_);
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
        rc = archive_write_finish_entry(w_);
        if (rc < ARCHIVE_WARN) fail(w_, name);
        if (rc == ARCHIVE_WARN) warn(name, w_);
    }

    // The disk writer replaces an earlier symbolic link of the same name even
    // when told never to overwrite, so every clash is looked for here. A
    // folder listed again only adds to what is in it.
    void refuse_replacing(archive_entry* e, const std::string& name) {
        struct stat st;
        if (!find_in_output(name, st)) return;
        bool folder = archive_entry_filetype(e) == AE_IFDIR && archive_entry_hardlink(e) == nullptr;
        if (folder && S_ISDIR(st.st_mode)) return;
        throw Failure("cannot extract " + quote(shown_) + ": unsafe archive: " + quote(name) +
                      " would replace an earlier entry of the same name");
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
        std::string why = reason(a);
        throw Failure("cannot extract " + quote(shown_) + ": " +
                      (name.empty() ? "" : quote(name) + ": ") + why);
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
        if (rc == ARCHIVE_OK) rc = archive_read_next_header(r.get(), &first);
        std::string damage = decoder ? decoder->failure() : "";
        bool damaged_stream = !damage.empty() && !sniffed.compression.empty();
        // A file no archive reader recognises is just a file, and so is a
        // "tar" of nothing but zero blocks, such as an empty disk image.
        bool is_archive = rc == ARCHIVE_OK || rc == ARCHIVE_WARN ||
                          (rc != ARCHIVE_EOF &&
                           (archive_format(r.get()) != 0 || looks_like_archive || damaged_stream));
        if (is_archive && rc < ARCHIVE_WARN) {
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
                Extractor(r.get(), w.get(), decoder.get(), budget, shown).run(first, rc);
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
