// korvu-sample.exe: the sample archiver for Windows, with the same rules,
// names, messages and exit statuses as the Linux one (see korvu_sample.cpp).
// One process does the work, in a job that lets it start no other, and
// publishes what it made by a rename that never replaces.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <iostream>
#include <new>

#include "extract.h"
#include "extract_limits.h"
#include "fs_win.h"
#include "fsutil.h"
#include "pack.h"
#include "usage.h"

namespace {

using namespace korvu;

BOOL WINAPI on_control(DWORD) {
    // A second stop ends the process at once.
    if (g_stop_signal != 0) return FALSE;
    g_stop_signal = SIGINT;
    return TRUE;
}

void write_out(HANDLE out, const std::string& text) {
    DWORD mode;
    if (GetConsoleMode(out, &mode)) {
        std::wstring w = wide(text);
        DWORD n;
        if (!WriteConsoleW(out, w.data(), static_cast<DWORD>(w.size()), &n, nullptr))
            throw Failure("cannot write to the console");
        return;
    }
    for (size_t done = 0; done < text.size();) {
        DWORD n = 0;
        if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                       nullptr) ||
            n == 0) {
            throw Failure(system_message(GetLastError()));
        }
        done += n;
    }
}

// Writes the name of what was made; failing to do so fails the run.
void announce(const std::string& created) {
    try {
        write_out(GetStdHandle(STD_OUTPUT_HANDLE), display(created) + "\n");
    } catch (const Failure& f) {
        throw Failure("cannot write the name of " + quote(created) +
                      " to standard output: " + f.what());
    }
}

int run(const std::string& path, const Limits& limits) {
    Target target = locate(path);
    std::string shown = target.dir_prefix + target.name;
    std::wstring full = child_path(target.dir.get(), target.name);
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail_system("cannot read " + quote(path), GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        throw Failure("cannot pack " + quote(path) +
                      ": it is a link or other reparse point, which is not packed on Windows");
    }
    std::string missing = confine_process(limits.max_memory);
    if (!missing.empty()) {
        std::cerr << "korvu-sample: warning: this system cannot confine the reading of "
                  << quote(shown) << " (" << missing << "); it runs unconfined there\n";
    }

    struct stat st = {};
    Fd item;
    char kind = 'p';
    std::string made;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        item = Fd(open_folder(full));
        if (item.get() < 0) fail_errno("cannot read " + quote(path), errno);
        st.st_mode = S_IFDIR;
        made = pack(target, item.get(), st, shown);
    } else {
        if (target.folder_only) fail_errno("cannot read " + quote(path), ENOTDIR);
        HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) fail_system("cannot read " + quote(path), GetLastError());
        if (GetFileType(h) != FILE_TYPE_DISK) {
            CloseHandle(h);
            throw Failure("cannot pack " + quote(path) + ": not a regular file or folder");
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            fail_errno("cannot read " + quote(path), errno);
        }
        item = Fd(fd);
        if (fstat(item.get(), &st) != 0) fail_errno("cannot read " + quote(path), errno);
        if (std::optional<std::string> x =
                extract_if_archive(target, item.get(), st, shown, limits)) {
            kind = 'x';
            made = *x;
        } else {
            made = pack(target, item.get(), st, shown);
        }
    }
    item = Fd();
    check_stop();
    TempEntry out(target.dir.get(), made,
                  kind == 'x' ? TempEntry::Kind::Folder : TempEntry::Kind::File, target.dir.get());
    std::string stem = archive_stem(target.name);
    out.publish(
        [&](int n) { return kind == 'x' ? numbered(stem, n) : numbered(target.name, n) + ".zip"; },
        target.dir_prefix, [&](const std::string& m) { announce(target.dir_prefix + m); });
    return g_skipped ? kExitSkipped : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // No dialog for a missing disk or a crash: the caller reads the status.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc == 2 && std::wstring(argv[1]) == L"--help") {
        std::cout << help();
        return std::cout.flush() ? 0 : 1;
    }
    if (argc != 2) {
        std::cerr << "usage: korvu-sample PATH  (korvu-sample --help tells more)\n";
        return 2;
    }
    SetConsoleCtrlHandler(on_control, TRUE);

    std::string error;
    try {
        Limits limits = Limits::from_environment();
        limits.apply_memory_limit();
        return run(utf8(argv[1]), limits);
    } catch (const Failure& f) {
        error = f.what();
    } catch (const std::bad_alloc&) {
        error = "cannot go on: " + memory_message();
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (g_stop_signal != 0) {
        std::cerr << "korvu-sample: interrupted; nothing was created\n";
        return 1;
    }
    std::cerr << "korvu-sample: " << error << std::endl;
    return 1;
}
