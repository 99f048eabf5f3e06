// Launch rate of Execute over 2000 rows with /bin/true as the archiver (the
// loop only: the clock stops when the wait message would open), against a
// bare posix_spawn loop and xargs over the same paths, interleaved; then the
// program and the bare loop again while 40 MB of heap are touched, with
// QProcess::startDetached for comparison.
//
// usage: exec_probe [ROUNDS]   (output: "sample NAME VALUE" lines, launches/s)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/frmDoredAviro.h"
#include "core/texts.h"
#include "qt/main_window.h"
#include "qt/qt_form.h"
#include "qt/qt_system.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRows = 2000;
constexpr int kQProcessRuns = 200;
constexpr std::size_t kHeapBytes = 40u << 20;
constexpr char kTrue[] = "/bin/true";

// The NUL-separated path list that xargs reads, removed however the probe ends.
std::string pathListFile;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "exec_probe: %s\n", what.c_str());
    if (!pathListFile.empty()) unlink(pathListFile.c_str());
    std::exit(1);
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// The real services, but the message boxes neither open nor block: the one
// that follows the launches stops the clock.
class BenchSystem : public doredaviro::qt::QtSystem {
public:
    void MsgBox(const std::string& prompt, doredaviro::MessageStyle, const std::string&) override {
        if (prompt == doredaviro::text::kPleaseWait) {
            waitShown = Clock::now();
        } else {
            otherMessages.push_back(prompt);
        }
    }
    // Launches this program instead of the settings' archiver, when set.
    doredaviro::Launched Launch(const std::string& tool, const std::string& path,
                                const std::string& folder) override {
        const doredaviro::Launched launched =
            QtSystem::Launch(instead.empty() ? tool : instead, path, folder);
        if (!instead.empty() && launched.process > 0) started.push_back(launched.process);
        return launched;
    }
    // The run record off: no file, no standard error kept, for the comparison.
    std::string SaveRunRecord(const std::string& name, const std::string& text) override {
        return recordOff ? std::string() : QtSystem::SaveRunRecord(name, text);
    }
    bool recordOff = false;
    std::vector<long long> started;  // while `instead` is set
    Clock::time_point waitShown;
    std::vector<std::string> otherMessages;
    std::string instead;
};

// The real form, with the task bar's updates counted.
class BenchForm : public doredaviro::qt::QtForm {
public:
    using QtForm::QtForm;
    void TaskbarProgress(int ended, int started) override {
        ++taskbarUpdates;
        QtForm::TaskbarProgress(ended, started);
    }
    int taskbarUpdates = 0;
};

// While the archivers end: the longest the event loop was kept from a timer due every 5 ms.
double worstLoopDelayMs = 0;

// Each run leaves its record, handed to its writer while the clocks run: one new file per run.
void CheckRecord(BenchSystem& system, BenchForm& form, std::string& last) {
    system.FinishRunRecords();
    const std::string record = form.form().LastRecord();
    if (record.empty() || record == last || access(record.c_str(), R_OK) != 0) {
        Fail("the run left no record");
    }
    last = record;
}
std::string lastRecord;

std::vector<std::string> MakePaths(int count) {
    static const char* const kFolders[] = {
        "/home/hanako/Documents/Reports/2023-Q4",
        "/home/hanako/Pictures/Holiday 2022/Kyoto",
        "/home/hanako/デスクトップ/会議資料",
    };
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/archive_%05d.zip", i);
        paths.push_back(kFolders[i % 3] + std::string(name));
    }
    return paths;
}

double PerSecond(int launches, Clock::duration d) {
    return launches / std::chrono::duration<double>(d).count();
}

double Program(BenchSystem& system, BenchForm& form, const std::vector<std::string>& paths) {
    form.form().lstFileList_OLEDragDrop(paths);
    if (form.ListCount() != kRows) Fail("the queue did not take the rows");
    QCoreApplication::processEvents();
    system.waitShown = {};
    const auto t0 = Clock::now();
    form.form().cmdExec_Click();
    if (system.waitShown == Clock::time_point{} || !system.otherMessages.empty() ||
        form.ListCount() != 0) {
        Fail("Execute did not start every row");
    }
    const double rate = PerSecond(kRows, system.waitShown - t0);
    // Reaped by the program's own event loop, outside the clock.
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (form.form().RunningArchivers() > 0 && Clock::now() < limit) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    if (form.form().RunningArchivers() > 0) Fail("the archivers were not all reaped");
    if (!system.recordOff) CheckRecord(system, form, lastRecord);
    return rate;
}

double ProgramWithoutRecord(BenchSystem& system, BenchForm& form,
                            const std::vector<std::string>& paths) {
    system.recordOff = true;
    system.keepErrorTails = false;
    const double rate = Program(system, form, paths);
    system.recordOff = false;
    system.keepErrorTails = true;
    return rate;
}

void Sample(const char* name, double value);

// 2000 archivers that all end at once: each sleeps, and all are stopped together. Counts the
// task bar's updates and measures how late the event loop comes round to a timer due every
// 5 ms while they are reaped.
void Ending(BenchSystem& system, BenchForm& form) {
    system.instead = "/bin/sleep";
    system.started.clear();
    form.form().lstFileList_OLEDragDrop(std::vector<std::string>(kRows, "600"));
    form.form().cmdExec_Click();
    system.instead.clear();
    if (form.form().RunningArchivers() != kRows) Fail("the sleepers did not all start");
    form.taskbarUpdates = 0;
    worstLoopDelayMs = 0;
    auto last = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&last] {
        const auto now = Clock::now();
        const double late = std::chrono::duration<double, std::milli>(now - last).count() - 5;
        worstLoopDelayMs = std::max(worstLoopDelayMs, late);
        last = now;
    });
    probe.start();
    const auto begin = Clock::now();
    for (long long pid : system.started) kill(static_cast<pid_t>(pid), SIGTERM);
    // The loop's delay counts from here: sending the signals is the bench's own work.
    last = Clock::now();
    const auto limit = begin + std::chrono::seconds(30);
    while (form.form().RunningArchivers() > 0 && Clock::now() < limit) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    probe.stop();
    if (form.form().RunningArchivers() > 0) Fail("the sleepers did not all end");
    const auto took = Clock::now() - begin;
    const double worstEnding = worstLoopDelayMs;
    CheckRecord(system, form, lastRecord);
    // The same timer on the same loop for as long, with nothing to do: what the machine's load
    // alone costs.
    worstLoopDelayMs = 0;
    probe.start();
    last = Clock::now();
    const auto idleEnd = last + took;
    while (Clock::now() < idleEnd)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    probe.stop();
    const double worstIdle = worstLoopDelayMs;
    // And as many processes the program knows nothing of, ended as those were: what their
    // ending costs the machine, which the program's loop shares.
    std::vector<pid_t> others;
    for (int i = 0; i < kRows; ++i) {
        char sleep[] = "/bin/sleep", seconds[] = "600";
        char* argv[] = {sleep, seconds, nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, sleep, nullptr, nullptr, argv, environ) == 0) others.push_back(pid);
    }
    QCoreApplication::processEvents();
    worstLoopDelayMs = 0;
    probe.start();
    for (pid_t pid : others) kill(pid, SIGTERM);
    last = Clock::now();
    const auto othersEnd = last + took;
    while (Clock::now() < othersEnd) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    probe.stop();
    for (pid_t pid : others) waitpid(pid, nullptr, 0);
    Sample("exec.ending.seconds", std::chrono::duration<double>(took).count());
    Sample("exec.ending.taskbar_updates", form.taskbarUpdates);
    Sample("exec.ending.worst_loop_delay_ms", worstEnding);
    Sample("exec.idle.worst_loop_delay_ms", worstIdle);
    Sample("exec.unwatched.worst_loop_delay_ms", worstLoopDelayMs);
}

double Bare(const std::vector<std::string>& paths) {
    std::vector<pid_t> started;
    started.reserve(paths.size());
    const auto t0 = Clock::now();
    for (const std::string& path : paths) {
        char* argv[] = {const_cast<char*>(kTrue), const_cast<char*>(path.c_str()), nullptr};
        pid_t pid = 0;
        if (int error = posix_spawn(&pid, kTrue, nullptr, nullptr, argv, environ)) {
            Fail(std::string("posix_spawn: ") + std::strerror(error));
        }
        started.push_back(pid);
    }
    const double rate = PerSecond(static_cast<int>(paths.size()), Clock::now() - t0);
    for (pid_t pid : started) waitpid(pid, nullptr, 0);
    return rate;
}

// Until xargs has exited, which is after all it started have ended: its
// standard output is a pipe that no one else holds, so end-of-file tells.
double Xargs(const std::string& pathList, int count) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, pathList.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>("xargs"), const_cast<char*>("-0"),  const_cast<char*>("-P0"),
                    const_cast<char*>("-n1"),   const_cast<char*>(kTrue), nullptr};
    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "xargs", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (error) Fail(std::string("xargs: ") + std::strerror(error));
    char buffer[256];
    while (read(out[0], buffer, sizeof buffer) > 0) {
    }
    const auto t1 = Clock::now();
    close(out[0]);
    return PerSecond(count, t1 - t0);
}

double StartDetached(const std::vector<std::string>& paths) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kQProcessRuns; ++i) {
        if (!QProcess::startDetached(
                QString::fromLatin1(kTrue),
                {QString::fromStdString(paths[static_cast<std::size_t>(i)])})) {
            Fail("QProcess::startDetached failed");
        }
    }
    return PerSecond(kQProcessRuns, Clock::now() - t0);
}

void Sample(const char* name, double value) {
    std::printf("sample %s %.1f\n", name, value);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zivev+Korvu"));
    BenchSystem system;
    BenchForm form(system);
    if (!form.Load()) Fail("the program's start-up checks failed");
    form.Show();
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();

    const std::vector<std::string> paths = MakePaths(kRows);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/exec_probe.XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) Fail("mkstemp");
    pathListFile = pattern;
    for (const std::string& path : paths) {
        if (write(fd, path.c_str(), path.size() + 1) != static_cast<ssize_t>(path.size() + 1)) {
            Fail("writing the path list");
        }
    }
    close(fd);

    for (int r = 0; r < rounds; ++r) {
        Ending(system, form);
        // The order turns each round so that none always runs first.
        for (int k = 0; k < 4; ++k) {
            switch ((r + k) % 4) {
                case 0:
                    Sample("exec.program", Program(system, form, paths));
                    break;
                case 1:
                    Sample("exec.bare", Bare(paths));
                    break;
                case 2:
                    Sample("exec.xargs", Xargs(pathListFile, kRows));
                    break;
                case 3:
                    Sample("exec.norecord", ProgramWithoutRecord(system, form, paths));
                    break;
            }
        }
        // The same with the heap grown, which a fork would have to copy the
        // page tables of; it is given back after each round.
        auto* heap = static_cast<char*>(std::malloc(kHeapBytes));
        if (!heap) Fail("malloc");
        std::memset(heap, 0x5a, kHeapBytes);
        asm volatile("" : : "r"(heap) : "memory");  // the stores must happen
        const long rss = RssKiB();
        for (int k = 0; k < 3; ++k) {
            switch ((r + k) % 3) {
                case 0:
                    Sample("exec.heap.program", Program(system, form, paths));
                    break;
                case 1:
                    Sample("exec.heap.bare", Bare(paths));
                    break;
                case 2:
                    Sample("exec.heap.qprocess", StartDetached(paths));
                    break;
            }
        }
        Sample("exec.heap.rss_mib", rss / 1024.0);
        std::free(heap);
    }
    unlink(pathListFile.c_str());
    return 0;
}
