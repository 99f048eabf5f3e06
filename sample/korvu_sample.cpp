// korvu-sample: the sample archiver shipped with DoredAviro. Given one path it
// extracts an archive into a new folder beside it, or packs anything else
// into a new .zip beside it. It never replaces an existing file or folder.
//
// Names: "report.txt" packs to "report.txt.zip", keeping its extension so that
// report.txt and report.pdf do not compete for one name; folder "docs" packs
// to "docs.zip"; "a.tar.gz" extracts to "a/". A taken name gets " (2)",
// " (3)", ... before the ".zip". Stdout gets one line naming what was made,
// with control characters and invalid UTF-8 escaped. Whatever fails, also
// writing that line, leaves nothing behind.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>

#include "confine.h"
#include "extract.h"
#include "extract_limits.h"
#include "fsutil.h"
#include "pack.h"
#include "usage.h"

namespace {

using namespace korvu;

// The confined process doing the work, while it runs.
volatile pid_t g_worker = 0;

void on_signal(int sig) {
    if (g_stop_signal != 0) {
        // A second stop ends the process at once: what it wrote stays in a
        // hidden .korvu-*.tmp folder, which is all the name it has.
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    g_stop_signal = sig;
    if (g_worker > 0) kill(g_worker, SIGKILL);
}

void install_handlers() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    // A reader that went away must not turn a finished job into a crash.
    signal(SIGPIPE, SIG_IGN);
}

// Writes the name of what was made; failing to do so fails the run.
void announce(const std::string& created) {
    std::string line = display(created) + "\n";
    for (size_t done = 0; done < line.size();) {
        ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            fail_errno("cannot write the name of " + quote(created) + " to standard output",
                       n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
}

// What a stopped run wrote goes after the exit, in a process of its own, so
// that a stop is quick however much was written; a small tree is gone by then.
void remove_in_background(int dirfd, const std::string& name) {
    int done[2];
    pid_t pid = pipe2(done, O_CLOEXEC) == 0 ? fork() : -1;
    if (pid < 0) {
        remove_tree(dirfd, name);
        return;
    }
    if (pid == 0) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_IGN);
        setsid();
        if (fork() == 0) {
            // Whoever reads our output must not wait for this.
            int null = open("/dev/null", O_RDWR | O_CLOEXEC);
            for (int fd : {0, 1, 2}) dup2(null, fd);
            close(done[0]);
            remove_tree(dirfd, name);
        }
        _exit(0);
    }
    close(done[1]);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    struct pollfd end = {done[0], POLLIN, 0};
    poll(&end, 1, 200);
    close(done[0]);
}

// The child's report: 'x' or 'p' (extracted or packed) and its temporary name.
void report_made(int report, char kind, const std::string& made) {
    std::string msg = kind + made;
    if (write(report, msg.data(), msg.size()) != static_cast<ssize_t>(msg.size())) _exit(1);
}

// Reads and writes in a confined process of its own, while the parent that
// started it, which never reads the input, publishes what it made. The work
// folder beside the output is then all it may write to: giving it the right
// to make and rename entries in the output's folder itself would give it
// every sibling there too, as confinement rules cover whole folders.
[[noreturn]] void work(const Target& target, int item, const struct stat& st, pid_t parent,
                       const std::string& shown, const Limits& limits, int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    int code = 1;
    try {
        std::string missing = confine(target.work, S_ISDIR(st.st_mode) ? item : -1);
        if (!missing.empty()) {
            std::cerr << "korvu-sample: warning: this system cannot confine the reading of "
                      << quote(shown) << " (" << missing << "); it runs unconfined there\n";
        }
        if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)) {
            report_made(report, 'p', pack(target, item, st, shown));
        } else if (std::optional<std::string> made =
                       extract_if_archive(target, item, st, shown, limits)) {
            report_made(report, 'x', *made);
        } else {
            report_made(report, 'p', pack(target, item, st, shown));
        }
        code = g_skipped ? kExitSkipped : 0;
    } catch (const Failure& f) {
        std::cerr << "korvu-sample: " << f.what() << std::endl;
    } catch (const std::bad_alloc&) {
        std::cerr << "korvu-sample: cannot go on: " << memory_message() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "korvu-sample: " << e.what() << std::endl;
    }
    _exit(code);
}

// A failure already told on standard error.
struct Told {
    int status;
};

int run(const std::string& path, const Limits& limits) {
    Target target = locate(path);
    std::string shown = target.dir_prefix + target.name;
    struct stat st;
    Fd item;
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (target.folder_only) {
        // "name/" asks for the folder, through a link to it if need be.
        item = Fd(openat(target.dir.get(), target.name.c_str(), flags | O_DIRECTORY));
        if (item.get() < 0) fail_errno("cannot read " + quote(path), errno);
    } else {
        if (fstatat(target.dir.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            fail_errno("cannot read " + quote(path), errno);
        }
        if (!S_ISLNK(st.st_mode)) {
            item = Fd(openat(target.dir.get(), target.name.c_str(), flags | O_NOFOLLOW));
            if (item.get() < 0 && errno == ELOOP)
                throw Failure(quote(path) + " changed while it was read");
            if (item.get() < 0) fail_errno("cannot read " + quote(path), errno);
        }
    }
    if (item.get() >= 0 && fstat(item.get(), &st) != 0)
        fail_errno("cannot read " + quote(path), errno);
    if (S_ISREG(st.st_mode)) {
        // Non-blocking only guarded the open against FIFOs.
        fcntl(item.get(), F_SETFL, fcntl(item.get(), F_GETFL) & ~O_NONBLOCK);
    } else if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
        throw Failure("cannot pack " + quote(path) + ": not a regular file or folder");
    }

    TempEntry work_dir(target.dir.get(), TempEntry::Kind::Folder, target.dir_shown());
    target.work = work_dir.fd();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) fail_errno("cannot start", errno);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        work(target, item.get(), st, parent, shown, limits, report[1]);
    }
    int err = errno;
    close(report[1]);
    Fd from_worker(report[0]);
    if (pid < 0) fail_errno("cannot start", err);
    g_worker = pid;
    if (g_stop_signal != 0) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_worker = 0;
    if (g_stop_signal != 0) {
        remove_in_background(target.dir.get(), work_dir.keep());
        throw Failure("interrupted");
    }
    std::string msg(512, '\0');
    ssize_t got = read(from_worker.get(), msg.data(), msg.size());
    msg.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (WIFSIGNALED(status)) {
        throw Failure("cannot read " + quote(path) + ": the work on it ended with signal " +
                      std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")");
    }
    int code = WEXITSTATUS(status);
    if (code != 0 && code != kExitSkipped) throw Told{code};

    // The worker is not trusted with more than a name of its own making.
    std::string made = msg.empty() ? "" : msg.substr(1);
    char kind = msg.empty() ? '\0' : msg[0];
    struct stat got_st;
    bool plausible = (kind == 'x' || kind == 'p') && made.rfind(".korvu-", 0) == 0 &&
                     made.find('/') == std::string::npos &&
                     fstatat(work_dir.fd(), made.c_str(), &got_st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     (kind == 'x' ? S_ISDIR(got_st.st_mode) : S_ISREG(got_st.st_mode));
    if (!plausible) throw Failure("cannot read " + quote(path) + ": its work went wrong");
    TempEntry out(work_dir.fd(), made,
                  kind == 'x' ? TempEntry::Kind::Folder : TempEntry::Kind::File, target.dir.get());
    check_stop();
    std::string stem = archive_stem(target.name);
    out.publish(
        [&](int n) { return kind == 'x' ? numbered(stem, n) : numbered(target.name, n) + ".zip"; },
        target.dir_prefix, [&](const std::string& m) { announce(target.dir_prefix + m); });
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::cout << help();
        return std::cout.flush() ? 0 : 1;
    }
    if (argc != 2) {
        std::cerr << "usage: korvu-sample PATH  (korvu-sample --help tells more)\n";
        return 2;
    }
    // Each entry's compressor takes and gives back a few hundred KiB: trimming
    // the heap every time costs more system time than the compression itself.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    g_umask = umask(0);
    umask(g_umask);
    // Treat names as UTF-8 bytes whatever the caller's locale, so that names
    // pass through unchanged instead of being converted.
    if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr) setlocale(LC_CTYPE, "");
    install_handlers();

    std::string error;
    try {
        Limits limits = Limits::from_environment();
        limits.apply_memory_limit();
        return run(argv[1], limits);
    } catch (const Told& t) {
        return t.status;
    } catch (const Failure& f) {
        error = f.what();
    } catch (const std::bad_alloc&) {
        error = "cannot go on: " + memory_message();
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (g_stop_signal != 0) {
        int sig = g_stop_signal;
        std::cerr << "korvu-sample: interrupted; nothing was created\n";
        signal(sig, SIG_DFL);
        raise(sig);
    }
    std::cerr << "korvu-sample: " << error << std::endl;
    return 1;
}
