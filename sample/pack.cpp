#include "pack.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <memory>
#include <vector>

#include "extract_limits.h"

namespace korvu {
namespace {

constexpr size_t kMaxZipName = 65535;

using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

// The zip writer marks non-ASCII names as UTF-8 whenever the locale is. A
// name that is not UTF-8 must stay unmarked, or readers reject it, so its
// header is written under the plain C locale and its bytes go in unchanged.
class PlainLocaleIf {
public:
    explicit PlainLocaleIf(bool plain) {
        if (plain) c_ = newlocale(LC_CTYPE_MASK, "C", nullptr);
        if (c_ != nullptr) old_ = uselocale(c_);
    }
    PlainLocaleIf(const PlainLocaleIf&) = delete;
    PlainLocaleIf& operator=(const PlainLocaleIf&) = delete;
    ~PlainLocaleIf() {
        if (c_ == nullptr) return;
        uselocale(old_);
        freelocale(c_);
    }

private:
    locale_t c_ = nullptr;
    locale_t old_ = nullptr;
};

class Packer {
public:
    explicit Packer(archive* w) : w_(w) {}

    void add(int fd, const struct stat& st, const std::string& entry_name,
             const std::string& shown) {
        check_stop();
        shared_ &= st.st_mode;
        if (S_ISDIR(st.st_mode)) {
            add_folder(fd, st, entry_name, shown);
        } else {
            add_file(fd, st, entry_name, shown);
        }
    }

    void add_symlink(int dirfd, const std::string& name, const struct stat& st,
                     const std::string& entry_name, const std::string& shown) {
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        for (;;) {
            ssize_t n = readlinkat(dirfd, name.c_str(), target.data(), target.size());
            if (n < 0) fail_errno("cannot read " + quote(shown), errno);
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        write_header(st, entry_name, shown, target.c_str());
    }

    // The group and other permissions every packed file and folder has: the
    // zip may not let anyone read what one of them kept from them.
    mode_t shared_permissions() const { return shared_ & 077; }

private:
    void write_header(const struct stat& st, const std::string& entry_name,
                      const std::string& shown, const char* symlink = nullptr) {
        // The zip format gives a name 16 bits of length; the writer would
        // overflow its buffer past that.
        if (entry_name.size() > kMaxZipName) {
            throw Failure("cannot pack " + quote(shown) + ": its name in the zip would be " +
                          std::to_string(entry_name.size()) +
                          " bytes long, and a zip holds at most " + std::to_string(kMaxZipName));
        }
        Entry e(archive_entry_new(), archive_entry_free);
        archive_entry_copy_stat(e.get(), &st);
        archive_entry_copy_pathname(e.get(), entry_name.c_str());
        if (symlink != nullptr) archive_entry_copy_symlink(e.get(), symlink);
        PlainLocaleIf plain(!is_utf8(entry_name));
        int rc = archive_write_header(w_, e.get());
        if (rc == ARCHIVE_WARN) warn(shown);
        if (rc < ARCHIVE_WARN) fail(shown);
    }

    void add_file(int fd, const struct stat& st, const std::string& entry_name,
                  const std::string& shown) {
        write_header(st, entry_name, shown);
        std::vector<char>& buf = buf_;
        off_t total = 0;
        for (;;) {
            ssize_t n = read(fd, buf.data(), buf.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fail_errno("cannot read " + quote(shown), errno);
            if (n == 0) break;
            // The header already promised st_size bytes.
            if (total + n > st.st_size) fail_changed(shown);
            if (archive_write_data(w_, buf.data(), static_cast<size_t>(n)) != n) fail(shown);
            total += n;
            check_stop();
        }
        if (total != st.st_size) fail_changed(shown);
    }

    [[noreturn]] static void fail_changed(const std::string& shown) {
        throw Failure(quote(shown) + " changed while it was being packed");
    }

    // One folder level still being packed; only the deepest is held open.
    struct Level {
        dev_t dev;
        ino_t ino;
        std::string entry;
        std::string shown;
        std::vector<std::string> names;
        size_t next = 0;
    };

    // Walks down by name and back up through "..", checked against the
    // folder it came from, so that any depth needs the same few descriptors.
    void add_folder(int fd, const struct stat& st, const std::string& entry_name,
                    const std::string& shown) {
        Fd cur(fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (cur.get() < 0) fail_errno("cannot read " + quote(shown), errno);
        write_header(st, entry_name + "/", shown);
        std::vector<Level> levels;
        levels.push_back({st.st_dev, st.st_ino, entry_name, shown, list(cur.get(), shown)});
        while (!levels.empty()) {
            check_stop();
            Level& here = levels.back();
            if (here.next == here.names.size()) {
                levels.pop_back();
                if (levels.empty()) break;
                Fd up(openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                struct stat ust;
                if (up.get() < 0 || fstat(up.get(), &ust) != 0 || ust.st_dev != levels.back().dev ||
                    ust.st_ino != levels.back().ino) {
                    fail_changed(levels.back().shown);
                }
                cur = std::move(up);
                continue;
            }
            const std::string& child = here.names[here.next++];
            std::string child_shown = here.shown + "/" + child;
            std::string child_entry = here.entry + "/" + child;
            struct stat cst;
            if (fstatat(cur.get(), child.c_str(), &cst, AT_SYMLINK_NOFOLLOW) != 0) {
                fail_errno("cannot read " + quote(child_shown), errno);
            }
            // As extraction counts them: the folder's own name is the first level.
            if (levels.size() >= Limits::kMaxDepth) {
                throw Failure("cannot pack " + quote(child_shown) + ": it is nested more than " +
                              std::to_string(Limits::kMaxDepth) + " levels deep");
            }
            if (S_ISLNK(cst.st_mode)) {
                add_symlink(cur.get(), child, cst, child_entry, child_shown);
                continue;
            }
            if (!S_ISDIR(cst.st_mode) && !S_ISREG(cst.st_mode)) {
                std::cerr << "korvu-sample: skipping " << quote(child_shown)
                          << ": not a file, folder or symbolic link\n";
                g_skipped = true;
                continue;
            }
            int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
            if (S_ISDIR(cst.st_mode)) flags |= O_DIRECTORY;
            Fd cfd(openat(cur.get(), child.c_str(), flags));
            if (cfd.get() < 0) fail_errno("cannot read " + quote(child_shown), errno);
            // Re-check through the descriptor: the name may have been swapped.
            if (fstat(cfd.get(), &cst) != 0) fail_errno("cannot read " + quote(child_shown), errno);
            shared_ &= cst.st_mode;
            if (S_ISREG(cst.st_mode)) {
                fcntl(cfd.get(), F_SETFL, 0);
                add_file(cfd.get(), cst, child_entry, child_shown);
            } else if (S_ISDIR(cst.st_mode)) {
                write_header(cst, child_entry + "/", child_shown);
                std::vector<std::string> names = list(cfd.get(), child_shown);
                levels.push_back({cst.st_dev, cst.st_ino, std::move(child_entry),
                                  std::move(child_shown), std::move(names)});
                cur = std::move(cfd);
            } else {
                fail_changed(child_shown);
            }
        }
    }

    static std::vector<std::string> list(int fd, const std::string& shown) {
        int dup_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (dup_fd < 0) fail_errno("cannot read " + quote(shown), errno);
        DIR* d = fdopendir(dup_fd);
        if (d == nullptr) {
            int err = errno;
            close(dup_fd);
            fail_errno("cannot read " + quote(shown), err);
        }
        std::vector<std::string> names;
        errno = 0;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(std::move(n));
        }
        int err = errno;
        closedir(d);
        if (err != 0) fail_errno("cannot read " + quote(shown), err);
        std::sort(names.begin(), names.end());
        return names;
    }

    void warn(const std::string& shown) {
        std::cerr << "korvu-sample: warning: " << quote(shown) << ": " << archive_message(w_)
                  << "\n";
    }

    [[noreturn]] void fail(const std::string& shown) {
        throw Failure("cannot pack " + quote(shown) + ": " + archive_message(w_));
    }

    archive* w_;
    mode_t shared_ = 077;
    std::vector<char> buf_ = std::vector<char>(1 << 16);
};

}  // namespace

std::string pack(const Target& target, int fd, const struct stat& st, const std::string& shown) {
    // Told before any work rather than when the zip is done.
    struct statvfs vfs;
    std::string zip = numbered(target.name, 1) + ".zip";
    if (fstatvfs(target.dir.get(), &vfs) == 0 && vfs.f_namemax > 0 && zip.size() > vfs.f_namemax) {
        throw Failure("cannot pack " + quote(shown) + ": its zip file would be named " +
                      quote(zip) + ", " + std::to_string(zip.size()) +
                      " bytes, and this file system allows at most " +
                      std::to_string(vfs.f_namemax));
    }
    TempEntry tmp(target.out(), TempEntry::Kind::File, target.dir_shown());
    {
        Writer w(archive_write_new(), archive_write_free);
        if (!w || archive_write_set_format_zip(w.get()) != ARCHIVE_OK ||
            archive_write_set_bytes_in_last_block(w.get(), 1) != ARCHIVE_OK ||
            archive_write_open_fd(w.get(), tmp.fd()) != ARCHIVE_OK) {
            throw Failure("cannot pack " + quote(shown) + ": " +
                          (w ? archive_message(w.get()) : "out of memory"));
        }
        Packer packer(w.get());
        if (S_ISLNK(st.st_mode)) {
            packer.add_symlink(target.dir.get(), target.name, st, target.name, shown);
        } else {
            packer.add(fd, st, target.name, shown);
        }
        if (archive_write_close(w.get()) != ARCHIVE_OK) {
            throw Failure("cannot pack " + quote(shown) + ": " + archive_message(w.get()));
        }
        // The temporary file was private while it filled up.
        mode_t mode = (0666 & ~g_umask) & (0700 | packer.shared_permissions());
        if (fchmod(tmp.fd(), mode) != 0) fail_errno("cannot pack " + quote(shown), errno);
    }
    if (fsync(tmp.fd()) != 0) fail_errno("cannot pack " + quote(shown), errno);
    check_stop();
    return tmp.keep();
}

}  // namespace korvu
