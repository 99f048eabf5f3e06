#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "posix/child_watch.h"
#include "posix/launcher.h"
#include "posix/run_store.h"
#include "test_support.h"

namespace doredaviro {
namespace {

using testing::ReadRecorderLog;
using testing::RecorderRecord;
using testing::WaitForRecords;

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

// True while any child of this process has ended and not been reaped.
bool AZombieRemains() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = dir_.file("log");
        setenv("RECORDER_LOG", log_.c_str(), 1);
    }
    void TearDown() override { ReapAll(); }

    pid_t Launch(const std::string& program, const std::string& argument,
                 const std::string& directory) {
        pid_t pid = 0;
        EXPECT_EQ(posix::LaunchDetached(program, argument, directory, &pid), 0) << argument;
        EXPECT_GT(pid, 0);
        watcher_.Watch(pid);
        return pid;
    }
    // Waits as an event loop would: on the watcher's descriptor, polling when told to.
    std::map<pid_t, bool> ReapAll() {
        std::map<pid_t, bool> ended;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (watcher_.Count() > 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{watcher_.fd(), POLLIN, 0};
            poll(&p, 1, watcher_.NeedsPolling() ? 10 : 1000);
            for (const auto& e : watcher_.Reap()) ended[e.pid] = e.succeeded;
        }
        return ended;
    }

    testing::TempDir dir_;
    std::string log_;
    posix::ChildWatcher watcher_;
};

TEST_F(LauncherTest, PassesEachPathAsExactlyOneArgumentUntouched) {
    const std::vector<std::string> paths = {
        "/home/u/with space/file name.txt",
        "/tmp/\"quoted\" 'single' $HOME ; rm -rf x `id` | & > < *",
        "-leading-dash",
        "/tmp/two\nlines\ttab",
        "/tmp/日本語のフォルダ",
        "/tmp/not-utf8-\xff\xfe",
        "C:\\drive\\",
        "",
    };
    for (const std::string& path : paths) {
        Launch(RECORDER_PATH, path, dir_.str());
    }
    const auto records = WaitForRecords(log_, paths.size());
    ASSERT_EQ(records.size(), paths.size());
    std::multiset<std::string> received;
    for (const RecorderRecord& r : records) {
        EXPECT_EQ(r.at("argc"), "2");
        ASSERT_EQ(r.args.size(), 1u);
        received.insert(r.args[0]);
    }
    EXPECT_EQ(received, std::multiset<std::string>(paths.begin(), paths.end()));
}

TEST_F(LauncherTest, RunsInTheGivenFolderDetachedWithOnlyTheStandardDescriptors) {
    // A descriptor this program inherited without close-on-exec must not leak.
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    const std::string work = dir_.file("work dir");
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const pid_t pid = Launch(RECORDER_PATH, "x", work);
    close(leaky);

    const auto records = WaitForRecords(log_, 1);
    ASSERT_EQ(records.size(), 1u);
    const RecorderRecord& r = records[0];
    EXPECT_EQ(r.at("cwd"), work);
    EXPECT_EQ(r.at("fds"), "0,1,2");
    EXPECT_EQ(r.at("session_leader"), "1");

    EXPECT_EQ(r.at("pid"), std::to_string(pid));
    EXPECT_EQ(ReapAll(), (std::map<pid_t, bool>{{pid, true}}));
    EXPECT_NE(access(("/proc/" + r.at("pid")).c_str(), F_OK), 0) << "still there";
}

TEST_F(LauncherTest, ReapsOnlyItsOwnAndKnowsHowEachEnded) {
    const int before = OpenDescriptors();
    // More than a quarter of the descriptor limit, so that some are polled.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit low{256, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::map<pid_t, bool> expected;
    for (int i = 0; i < 2000; ++i) {
        const bool fails = i % 7 == 0;
        expected[Launch(fails ? "/bin/false" : "/bin/true", "x", "")] = !fails;
    }
    setrlimit(RLIMIT_NOFILE, &limit);
    // Other code in the process waits for its own child as usual meanwhile.
    const pid_t own = fork();
    if (own == 0) _exit(42);
    int status = 0;
    ASSERT_EQ(waitpid(own, &status, 0), own);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42);
    const pid_t slow = Launch("/bin/sleep", "0.3", "");
    expected[slow] = true;
    const pid_t other = fork();
    if (other == 0) _exit(3);
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);

    EXPECT_EQ(ReapAll(), expected);
    EXPECT_EQ(watcher_.Count(), 0u);
    EXPECT_FALSE(AZombieRemains());
    EXPECT_EQ(OpenDescriptors(), before);
}

// Each archiver's standard error comes through a pipe of its own, of which only the end is
// kept however much it writes; past the pipes' cap it writes where it did before.
TEST_F(LauncherTest, KeepsTheEndOfWhatEachWroteToStandardError) {
    const std::string script = dir_.file("chatty");
    std::ofstream(script)
        << "#!/bin/sh\n"
           "case \"$1\" in\n"
           "much) head -c 200000 /dev/zero | tr '\\000' x >&2; echo why >&2; exit 3;;\n"
           "killed) echo bye >&2; kill -9 $$;;\n"
           "esac\n";
    chmod(script.c_str(), 0700);
    const int before = OpenDescriptors();
    const auto launch = [&](const std::string& argument) {
        int ends[2];
        const bool piped = watcher_.OpenErrorPipe(ends);
        pid_t pid = 0;
        EXPECT_EQ(posix::LaunchDetached(script, argument, "", &pid, piped ? ends[1] : -1), 0);
        if (piped) close(ends[1]);
        watcher_.Watch(pid, piped ? ends[0] : -1);
        return pid;
    };
    const pid_t much = launch("much"), killed = launch("killed");
    std::vector<pid_t> quiet;
    for (std::size_t i = 0; i < posix::ChildWatcher::kMostPipes + 20; ++i)
        quiet.push_back(launch("q"));
    std::map<pid_t, posix::ChildWatcher::Ended> ended;
    while (watcher_.Count() > 0) {
        pollfd p{watcher_.fd(), POLLIN, 0};
        poll(&p, 1, 100);
        for (auto& e : watcher_.Reap()) ended[e.pid] = e;
    }
    EXPECT_EQ(ended[much].status, 3);
    EXPECT_EQ(ended[much].errorTail.size(), posix::ChildWatcher::kTailBytes);
    EXPECT_EQ(ended[much].errorTail.substr(posix::ChildWatcher::kTailBytes - 5), "xwhy\n");
    EXPECT_EQ(ended[killed].signal, SIGKILL);
    EXPECT_EQ(ended[killed].errorTail, "bye\n");
    EXPECT_TRUE(ended[quiet.back()].succeeded);
    EXPECT_EQ(OpenDescriptors(), before);
}

// A record is written whole, private, and the oldest go beyond the number kept; where it
// cannot be written, one line says so and nothing else changes.
TEST_F(LauncherTest, RunRecordsArePrivateWholeAndBounded) {
    const std::string folder = dir_.file("state/doredaviro");
    for (const char* name : {"run-1.tsv", "run-3.tsv", "run-2.tsv"}) {
        EXPECT_EQ(posix::SaveRunRecord(folder, name, std::string("# ") + name + "\n", 2),
                  folder + "/" + name);
    }
    struct stat st = {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((folder + "/run-3.tsv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(access((folder + "/run-1.tsv").c_str(), F_OK), 0);
    std::ifstream kept(folder + "/run-2.tsv");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "# run-2.tsv\n");
    EXPECT_EQ(std::system(("ls -A " + folder + " | wc -l | grep -qx 2").c_str()), 0);

    const std::string file = dir_.file("a-file");
    std::ofstream(file) << "x";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(posix::SaveRunRecord(file + "/doredaviro", "run-4.tsv", "x", 2), "");
    EXPECT_EQ(posix::SaveRunRecord(file + "/doredaviro", "run-5.tsv", "x", 2), "");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(LauncherTest, ReportsEveryWayAStartCanFail) {
    const std::string d = dir_.str();
    const std::string script = d + "/no-shebang";
    std::ofstream(script) << "echo hi\n";
    chmod(script.c_str(), 0755);
    const std::string notExecutable = d + "/plain";
    std::ofstream(notExecutable) << "data";
    chmod(notExecutable.c_str(), 0644);

    EXPECT_EQ(posix::LaunchDetached(d + "/missing", "a", d), ENOENT);
    EXPECT_EQ(posix::LaunchDetached(notExecutable, "a", d), EACCES);
    EXPECT_EQ(posix::LaunchDetached(d, "a", d), EACCES);
    EXPECT_EQ(posix::LaunchDetached(script, "a", d), ENOEXEC);
    EXPECT_EQ(posix::LaunchDetached("", "a", d), ENOENT);
    EXPECT_NE(posix::LaunchDetached(RECORDER_PATH, "a", d + "/no-such-dir"), 0);
    EXPECT_EQ(posix::LaunchDetached(RECORDER_PATH, std::string("a\0b", 3), d), EINVAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(ReadRecorderLog(log_).empty());
}

}  // namespace
}  // namespace doredaviro
