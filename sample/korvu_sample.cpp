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
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <iostream>
#include <new>

#include "extract.h"
#include "extract_limits.h"
#include "fsutil.h"
#include "pack.h"

namespace {

using namespace korvu;

void on_signal(int sig) { g_stop_signal = sig; }

void install_handlers() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    // A reader that went away must not turn a finished job into a crash.
    signal(SIGPIPE, SIG_IGN);
}

std::string help() {
    return "usage: korvu-sample PATH\n"
           "\n"
           "If PATH is an archive, extracts it into a new folder beside it; otherwise\n"
           "packs the file or folder into a new .zip beside it. Nothing existing is\n"
           "ever replaced, a symbolic link is packed as the link, and the one line\n"
           "written to standard output names what was made.\n"
           "\n"
           "Extraction stops, and removes what it wrote, before the output would\n"
           "  - exceed " +
           std::to_string(Limits::kDefaultRatio) +
           " times the archive's size (any archive may give " + human_size(Limits::kRatioFloor) +
           ");\n"
           "    KORVU_MAX_RATIO=N allows N times instead, and 0 lifts the limit;\n"
           "  - leave less than " +
           std::to_string(Limits::kKeepFreePercent) + "% of the file system (at most " +
           human_size(Limits::kKeepFreeCap) +
           "), or of its inodes, free;\n"
           "    KORVU_KEEP_FREE=SIZE keeps SIZE free instead (bytes, or with K, M, G, T, P);\n"
           "  - hold more than " +
           std::to_string(Limits::kDefaultMaxEntries) +
           " entries (KORVU_MAX_ENTRIES=N allows N, 0 lifts it),\n"
           "    or nest folders more than " +
           std::to_string(Limits::kMaxDepth) +
           " levels deep.\n"
           "It uses at most " +
           human_size(Limits::kDefaultMaxMemory) +
           " of memory (KORVU_MAX_MEMORY=SIZE allows SIZE, 0 lifts\n"
           "it). Runs side by side see the room each other still needs. Packing\n"
           "refuses folders nested more than " +
           std::to_string(Limits::kMaxDepth) +
           " levels deep and names longer than\n"
           "65535 bytes, which a zip cannot hold.\n"
           "Damaged archives are an error, and only built-in decompressors are used.\n"
           "\n"
           "Packing skips FIFOs, sockets and devices, naming each; so does extracting.\n"
           "\n"
           "Exit status: 0 when done, 1 on failure, 2 on wrong usage, 3 when done but\n"
           "something was skipped.\n";
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

void run(const std::string& path, const Limits& limits) {
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
        if (S_ISLNK(st.st_mode)) {
            pack(target, -1, st, shown, announce);
            return;
        }
        item = Fd(openat(target.dir.get(), target.name.c_str(), flags | O_NOFOLLOW));
        if (item.get() < 0 && errno == ELOOP)
            throw Failure(quote(path) + " changed while it was read");
        if (item.get() < 0) fail_errno("cannot read " + quote(path), errno);
    }
    if (fstat(item.get(), &st) != 0) fail_errno("cannot read " + quote(path), errno);

    if (S_ISDIR(st.st_mode)) {
        pack(target, item.get(), st, shown, announce);
    } else if (S_ISREG(st.st_mode)) {
        // Non-blocking only guarded the open against FIFOs.
        fcntl(item.get(), F_SETFL, fcntl(item.get(), F_GETFL) & ~O_NONBLOCK);
        if (!extract_if_archive(target, item.get(), st, shown, limits, announce)) {
            pack(target, item.get(), st, shown, announce);
        }
    } else {
        throw Failure("cannot pack " + quote(path) + ": not a regular file or folder");
    }
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
        run(argv[1], limits);
        return g_skipped ? kExitSkipped : 0;
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
