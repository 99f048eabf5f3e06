// Small file-system helpers shared by the packing and extracting halves of
// the sample archiver. Everything works relative to directory descriptors so
// that a path renamed under us cannot redirect where we write.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>

struct archive;

namespace korvu {

// Ends the run; what() is the complete one-line message (without the program name).
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Set by the signal handler; long loops poll it so that cleanup still runs.
extern volatile std::sig_atomic_t g_stop_signal;
void check_stop();

// Called with each entry's name as the reader gives it. Null in the program;
// only the test build's probe sets it, to act as a hostile reader would.
extern void (*g_entry_hook)(const std::string& name);

// The process umask, read once at start-up.
extern mode_t g_umask;

// Set when something was left out of what was made, each with a warning;
// the run then ends with kExitSkipped rather than 0.
extern bool g_skipped;
constexpr int kExitSkipped = 3;

// Printable form of arbitrary path bytes: control characters and invalid
// UTF-8 are escaped (and so backslashes) so a hostile name cannot drive the
// terminal or the log it ends up in.
std::string display(const std::string& bytes);
std::string quote(const std::string& bytes);
bool is_utf8(const std::string& bytes);

[[noreturn]] void fail_errno(const std::string& what, int err);

// The archive library's last error, with the system's reason when it has one.
std::string archive_message(archive* a);

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    int release();

private:
    int fd_ = -1;
};

// Called with the name of what was made; throws if it cannot tell the caller.
using Announce = std::function<void(const std::string&)>;

// A hidden temporary file or folder beside the output, readable by its owner
// only; it is removed when the guard dies unless it was published.
class TempEntry {
public:
    enum class Kind { File, Folder };
    // `where` names the folder for messages.
    TempEntry(int dirfd, Kind kind, const std::string& where);
    // Takes over `name` in `from`, made by another process, to publish it in `dirfd`.
    TempEntry(int from, const std::string& name, Kind kind, int dirfd);
    TempEntry(const TempEntry&) = delete;
    TempEntry& operator=(const TempEntry&) = delete;
    ~TempEntry();

    int fd() const { return fd_.get(); }
    void close_fd() { fd_ = Fd(); }
    const std::string& name() const { return name_; }
    // Keeps the entry under its temporary name, for another process to publish.
    std::string keep() {
        published_ = true;
        return name_;
    }

    // Moves the entry to the first free name_for(1), name_for(2), ... and
    // announces the name used. An existing entry is never replaced. If the
    // announcement fails, the entry goes back to being a temporary one.
    std::string publish(const std::function<std::string(int)>& name_for, const std::string& where,
                        const Announce& announce);

private:
    void remember_identity();
    std::string place(const std::function<std::string(int)>& name_for, const std::string& where);
    void withdraw(const std::string& published);
    bool copy_to(const std::string& to, const std::string& where);

    int from_;  // where the entry is until it is published
    int dirfd_;
    Kind kind_;
    std::string name_;
    Fd fd_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    bool published_ = false;
};

// Makes `dirfd` the current folder while it lives; `what` starts the message if it cannot.
class WorkIn {
public:
    WorkIn(int dirfd, const std::string& what);
    WorkIn(const WorkIn&) = delete;
    WorkIn& operator=(const WorkIn&) = delete;
    ~WorkIn();

private:
    Fd old_;
};

// Whether the empty folder `dirfd` tells names apart by case only (FAT,
// exFAT and case-folding folders do not).
bool folds_case(int dirfd);

// Best-effort removal of a folder tree we created; never follows symlinks and
// needs two descriptors whatever the depth.
void remove_tree(int dirfd, const std::string& name);

// "base", "base (2)", "base (3)", ...
std::string numbered(const std::string& base, int n);

// Folder name for an extracted archive: drops the last extension and a
// ".tar" before it ("a.tar.gz" -> "a"). A name that is all extension gives
// the extension (".zip" and "..zip" -> "zip").
std::string archive_stem(const std::string& name);

// Where the output of PATH goes: the folder that holds it and its own name.
struct Target {
    Fd dir;                  // open for reading where it may be, so that it can be locked
    int work = -1;           // where the output is made instead, when not in `dir`
    std::string dir_prefix;  // as given by the user, with a trailing '/', or empty
    std::string name;
    bool folder_only = false;  // the path ended in '/'

    // The containing folder as the user would recognise it.
    int out() const { return work >= 0 ? work : dir.get(); }
    std::string dir_shown() const {
        if (dir_prefix.empty()) return ".";
        return dir_prefix.size() == 1 ? dir_prefix : dir_prefix.substr(0, dir_prefix.size() - 1);
    }
};
Target locate(const std::string& path);

}  // namespace korvu
