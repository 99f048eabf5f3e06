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

namespace korvu {
namespace {

using Archive = std::unique_ptr<archive, int (*)(archive*)>;

constexpr int kDiskFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_NO_OVERWRITE |
                           ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                           ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

// Every container format except mtree, "empty" and "raw": an mtree manifest
// is plain text whose lines name other files on this disk (extracting it would
// copy them), and the other two would make any file count as an archive.
Archive open_reader(int fd) {
    Archive r(archive_read_new(), archive_read_free);
    if (!r) throw Failure("out of memory");
    archive* a = r.get();
    archive_read_support_filter_all(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_ar(a);
    archive_read_support_format_cab(a);
    archive_read_support_format_cpio(a);
    archive_read_support_format_iso9660(a);
    archive_read_support_format_lha(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_warc(a);
    archive_read_support_format_xar(a);
    archive_read_support_format_zip(a);
    if (archive_read_open_fd(a, fd, 1 << 16) != ARCHIVE_OK)
        return Archive(nullptr, archive_read_free);
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
    Extractor(archive* r, archive* w, const std::string& shown) : r_(r), w_(w), shown_(shown) {}

    void run(archive_entry* e, int rc) {
        for (;;) {
            check_stop();
            if (rc == ARCHIVE_WARN) warn(entry_name(e), r_);
            if (wanted(e)) {
                write_entry(e);
            } else {
                std::cerr << "korvu-sample: skipping " << quote(entry_name(e)) << " in "
                          << quote(shown_) << ": not a file, folder or symbolic link\n";
            }
            rc = archive_read_next_header(r_, &e);
            if (rc == ARCHIVE_EOF) break;
            if (rc < ARCHIVE_WARN) fail(r_);
        }
        rc = archive_write_close(w_);
        if (rc < ARCHIVE_WARN) fail(w_);
        if (rc == ARCHIVE_WARN) warn("", w_);
    }

private:
    void write_entry(archive_entry* e) {
        // Never hand out set-id or sticky bits from someone else's archive.
        archive_entry_set_perm(e, archive_entry_perm(e) & 0777);
        std::string name = entry_name(e);
        refuse_replacing(e, name);
        int rc = archive_write_header(w_, e);
        if (rc < ARCHIVE_WARN) fail(w_, name);
        if (rc == ARCHIVE_WARN) warn(name, w_);
        const void* buf;
        size_t size;
        la_int64_t offset;
        for (;;) {
            rc = archive_read_data_block(r_, &buf, &size, &offset);
            if (rc == ARCHIVE_EOF) break;
            if (rc < ARCHIVE_WARN) fail(r_, name);
            if (rc == ARCHIVE_WARN) warn(name, r_);
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

    void warn(const std::string& name, archive* a) {
        std::cerr << "korvu-sample: warning: " << quote(shown_) << ": "
                  << (name.empty() ? "" : quote(name) + ": ") << archive_message(a) << "\n";
    }

    [[noreturn]] void fail(archive* a, const std::string& name) {
        throw Failure("cannot extract " + quote(shown_) + ": " + quote(name) + ": " +
                      archive_message(a));
    }

    [[noreturn]] void fail(archive* a) {
        throw Failure("cannot extract " + quote(shown_) + ": " + archive_message(a));
    }

    archive* r_;
    archive* w_;
    const std::string& shown_;
};

}  // namespace

std::optional<std::string> extract_if_archive(const Target& target, int fd,
                                              const std::string& shown, const Announce& announce) {
    {
        Archive r = open_reader(fd);
        archive_entry* first = nullptr;
        int rc = r ? archive_read_next_header(r.get(), &first) : ARCHIVE_FATAL;
        // An unrecognised format, or a "tar" of nothing but zero blocks, is just a file.
        if (rc < ARCHIVE_WARN && rc != ARCHIVE_EOF && r && archive_format(r.get()) != 0) {
            throw Failure("cannot extract " + quote(shown) + ": " + archive_message(r.get()));
        }
        if (rc == ARCHIVE_OK || rc == ARCHIVE_WARN) {
            TempEntry tmp(target.dir.get(), TempEntry::Kind::Folder, target.dir_shown());
            Fd old_cwd(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
            // The secure-extraction checks work on paths relative to the current folder.
            if (fchdir(tmp.fd()) != 0) fail_errno("cannot extract " + quote(shown), errno);
            {
                Archive w(archive_write_disk_new(), archive_write_free);
                if (!w) throw Failure("out of memory");
                archive_write_disk_set_options(w.get(), kDiskFlags);
                Extractor(r.get(), w.get(), shown).run(first, rc);
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
