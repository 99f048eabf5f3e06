// The file-system helpers of the Linux build, on directory descriptors.
#include "fsutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace korvu {
namespace {

std::string random_suffix() {
    unsigned char b[6];
    if (getrandom(b, sizeof b, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof b)) {
        static unsigned counter = 0;
        unsigned v = static_cast<unsigned>(getpid()) * 2654435761u + ++counter;
        std::memcpy(b, &v, sizeof v);
        b[4] = b[5] = static_cast<unsigned char>(counter);
    }
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : b) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

bool is_fallback_errno(int err) {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

}  // namespace

TempEntry::TempEntry(int dirfd, Kind kind, const std::string& where)
    : from_(dirfd), dirfd_(dirfd), kind_(kind) {
    std::string what = "cannot write in " + quote(where.empty() ? "." : where);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".korvu-" + random_suffix() + ".tmp";
        if (kind == Kind::File) {
            // Private from the start: what goes in may come from private files.
            int fd = openat(dirfd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0600);
            if (fd >= 0) {
                name_ = name;
                fd_ = Fd(fd);
                remember_identity();
                return;
            }
        } else if (mkdirat(dirfd, name.c_str(), 0700) == 0) {
            name_ = name;
            int fd = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                int err = errno;
                unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
                name_.clear();
                fail_errno(what, err);
            }
            fd_ = Fd(fd);
            remember_identity();
            return;
        }
        if (errno != EEXIST) fail_errno(what, errno);
    }
    throw Failure(what + ": no free temporary name");
}

TempEntry::TempEntry(int from, const std::string& name, Kind kind, int dirfd)
    : from_(from), dirfd_(dirfd), kind_(kind), name_(name) {
    struct stat st;
    if (fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        dev_ = st.st_dev, ino_ = st.st_ino;
}

TempEntry::~TempEntry() {
    if (published_ || name_.empty()) return;
    fd_ = Fd();
    if (kind_ == Kind::File) {
        unlinkat(from_, name_.c_str(), 0);
    } else {
        remove_tree(from_, name_);
    }
}

void TempEntry::remember_identity() {
    struct stat st;
    if (fstat(fd_.get(), &st) == 0) dev_ = st.st_dev, ino_ = st.st_ino;
}

std::string TempEntry::publish(const std::function<std::string(int)>& name_for,
                               const std::string& where, const Announce& announce) {
    std::string to = place(name_for, where);
    try {
        announce(to);
    } catch (...) {
        withdraw(to);
        throw;
    }
    return to;
}

// Only what is still ours goes back: the name may have been taken over since.
void TempEntry::withdraw(const std::string& published) {
    struct stat st;
    if (fstatat(dirfd_, published.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != dev_ ||
        st.st_ino != ino_) {
        return;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".korvu-" + random_suffix() + ".tmp";
        int rc = renameat2(dirfd_, published.c_str(), dirfd_, name.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && is_fallback_errno(errno) &&
            faccessat(dirfd_, name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0) {
            rc = renameat(dirfd_, published.c_str(), dirfd_, name.c_str());
        }
        if (rc == 0) {
            name_ = name;
            from_ = dirfd_;
            published_ = false;
            return;
        }
        if (errno != EEXIST) return;
    }
}

std::string TempEntry::place(const std::function<std::string(int)>& name_for,
                             const std::string& where) {
    const char* from = name_.c_str();
    for (int n = 1; n <= 9999; ++n) {
        std::string to = name_for(n);
        if (renameat2(from_, from, dirfd_, to.c_str(), RENAME_NOREPLACE) == 0) {
            published_ = true;
            return to;
        }
        int err = errno;
        if (err == EEXIST) continue;
        if (!is_fallback_errno(err)) fail_errno("cannot create " + quote(where + to), err);

        // Without an atomic no-replace rename: a hard link cannot replace an
        // existing file, and a folder may only be renamed over an empty one
        // that we claimed ourselves a moment ago.
        if (kind_ == Kind::File) {
            if (linkat(from_, from, dirfd_, to.c_str(), 0) == 0) {
                published_ = true;
                unlinkat(from_, from, 0);
                return to;
            }
            // FAT and exFAT have no hard links either: make the name ours
            // exclusively and fill it.
            if (errno == EPERM || errno == EMLINK || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == ENOTSUP) {
                if (copy_to(to, where)) return to;
                continue;
            }
        } else if (mkdirat(dirfd_, to.c_str(), 0700) == 0) {
            if (renameat(from_, from, dirfd_, to.c_str()) == 0) {
                published_ = true;
                return to;
            }
            err = errno;
            unlinkat(dirfd_, to.c_str(), AT_REMOVEDIR);
            fail_errno("cannot create " + quote(where + to), err);
        }
        if (errno == EEXIST) continue;
        fail_errno("cannot create " + quote(where + to), errno);
    }
    throw Failure("no free name for " + quote(where + name_for(1)));
}

// False when `to` is taken.
bool TempEntry::copy_to(const std::string& to, const std::string& where) {
    std::string what = "cannot create " + quote(where + to);
    // Read through the descriptor still open where there is one: some file
    // systems give a file another number once it has been closed.
    Fd reopened;
    int in = fd_.get();
    struct stat st;
    if (in < 0) {
        reopened = Fd(openat(from_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        in = reopened.get();
        if (in < 0 || fstat(in, &st) != 0) fail_errno(what, errno);
        if (st.st_dev != dev_ || st.st_ino != ino_)
            throw Failure(what + ": its temporary file was replaced");
    } else if (fstat(in, &st) != 0) {
        fail_errno(what, errno);
    }
    Fd out(openat(dirfd_, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  st.st_mode & 0777));
    if (out.get() < 0) {
        if (errno == EEXIST) return false;
        fail_errno(what, errno);
    }
    struct stat made = {};
    int err = fstat(out.get(), &made) == 0 ? 0 : errno;
    std::vector<char> buf(1 << 20);
    for (off_t at = 0; err == 0;) {
        ssize_t n = pread(in, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        at += n;
        for (ssize_t done = 0; done < n && err == 0;) {
            ssize_t w = write(out.get(), buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0)
                err = w < 0 ? errno : EIO;
            else
                done += w;
        }
        if (err == 0 && g_stop_signal != 0) err = EINTR;
    }
    if (err == 0 && fsync(out.get()) != 0) err = errno;
    if (err == 0 && close(out.release()) != 0) err = errno;
    if (err != 0) {
        // Only the file made here goes: the name is checked to still be it.
        struct stat now;
        if (fstatat(dirfd_, to.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == made.st_dev && now.st_ino == made.st_ino) {
            unlinkat(dirfd_, to.c_str(), 0);
        }
        if (err == EINTR) check_stop();
        fail_errno(what, err);
    }
    fd_ = Fd();
    unlinkat(from_, name_.c_str(), 0);
    name_.clear();
    dev_ = made.st_dev, ino_ = made.st_ino;
    published_ = true;
    return true;
}

WorkIn::WorkIn(int dirfd, const std::string& what)
    : old_(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {
    if (fchdir(dirfd) != 0) fail_errno(what, errno);
}

WorkIn::~WorkIn() {
    if (old_.get() >= 0) (void)!fchdir(old_.get());
}

bool folds_case(int dirfd) {
    // A folder rather than a file: nothing is opened that a file system in
    // user space could still hold when it is removed.
    std::string name = ".korvu-case-" + random_suffix();
    if (mkdirat(dirfd, name.c_str(), 0700) != 0) return false;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    struct stat st;
    bool folds = fstatat(dirfd, upper.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
    return folds;
}

namespace {

// An open folder of the tree being removed, made writable so that its
// entries can go. Null if `name` is not a folder.
DIR* open_own_folder(int dirfd, const char* name) {
    int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dirfd, name, flags);
    if (fd < 0 && errno == EACCES) {
        // An archive may leave folders unreadable; this only ever runs on ours.
        if (fchmodat(dirfd, name, 0700, 0) == 0) fd = openat(dirfd, name, flags);
    }
    if (fd < 0) return nullptr;
    // Where permissions cannot change, its entries may still go.
    (void)!fchmod(fd, 0700);
    DIR* d = fdopendir(fd);
    if (d == nullptr) ::close(fd);
    return d;
}

// Removes everything in `d` but its folders, and returns their names.
std::vector<std::string> clear_files(DIR* d) {
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    std::vector<std::string> folders;
    for (std::string& n : names) {
        if (unlinkat(dirfd(d), n.c_str(), 0) != 0 && (errno == EISDIR || errno == EPERM)) {
            folders.push_back(std::move(n));
        }
    }
    return folders;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Walks down and back up through ".." holding only the current folder open,
// and keeps just the names of folders still to visit: a tree as deep as an
// archive can make must not need a descriptor, or a path, per level.
bool remove_tree_once(int dirfd, const std::string& name) {
    struct Level {
        std::string name;
        std::vector<std::string> folders;
    };
    Dir cur(open_own_folder(dirfd, name.c_str()));
    if (!cur) return unlinkat(dirfd, name.c_str(), 0) == 0 || errno == ENOENT;
    std::vector<Level> path{{name, clear_files(cur.get())}};
    while (!path.empty()) {
        Level& here = path.back();
        if (!here.folders.empty()) {
            std::string child = std::move(here.folders.back());
            here.folders.pop_back();
            Dir next(open_own_folder(::dirfd(cur.get()), child.c_str()));
            if (!next) {
                unlinkat(::dirfd(cur.get()), child.c_str(), AT_REMOVEDIR);
                continue;
            }
            cur = std::move(next);
            path.push_back({std::move(child), clear_files(cur.get())});
            continue;
        }
        std::string done = std::move(here.name);
        path.pop_back();
        if (path.empty()) break;
        Dir parent(open_own_folder(::dirfd(cur.get()), ".."));
        if (!parent) return false;
        cur = std::move(parent);
        unlinkat(::dirfd(cur.get()), done.c_str(), AT_REMOVEDIR);
    }
    cur.reset();
    return unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

void remove_tree(int dirfd, const std::string& name) {
    // A file system in user space may keep a file that was just closed, under
    // another name, until it hears of the close: look again for a moment.
    for (int attempt = 0; attempt < 50 && !remove_tree_once(dirfd, name); ++attempt) {
        if (errno != ENOTEMPTY && errno != EBUSY) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

namespace {

void split(const std::string& path, std::string& dir, std::string& prefix, std::string& name) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) {
        dir = ".", prefix = "", name = p;
    } else {
        prefix = p.substr(0, slash + 1);
        dir = slash == 0 ? "/" : p.substr(0, slash);
        name = p.substr(slash + 1);
    }
}

}  // namespace

Target locate(const std::string& path) {
    std::string dir, prefix, name;
    split(path, dir, prefix, name);
    // "." and ".." have no name of their own; use the real one.
    if (name == "." || name == ".." || name == "/" || name.empty()) {
        if (path.empty()) fail_errno("cannot read " + quote(path), ENOENT);
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr) fail_errno("cannot read " + quote(path), errno);
        std::string resolved = real;
        std::free(real);
        if (resolved == "/")
            throw Failure("cannot pack " + quote(path) + ": it has no parent folder");
        split(resolved, dir, prefix, name);
    }
    Target t;
    t.folder_only = path.size() > 1 && path.back() == '/';
    // Opened for reading where it can be, so that runs into it can take turns by locking it.
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail_errno("cannot read " + quote(path), errno);
    t.dir = Fd(fd);
    t.dir_prefix = prefix;
    t.name = name;
    return t;
}

}  // namespace korvu
