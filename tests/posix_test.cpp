#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/modDoredAviro.h"
#include "fake_platform.h"
#include "posix/instance_lock.h"
#include "posix/system.h"
#include "posix/uri_list.h"
#include "test_support.h"

extern char** environ;

namespace doredaviro {
namespace {

// The fake's file search replaced by the real one.
class RealFiles : public testing::FakePlatform {
public:
    std::string FindFile(const std::string& path) override { return posix::FindFile(path); }
};

TEST(FileExistsTest, CountsFilesOfEveryKindAndNothingElse) {
    const testing::TempDir dir;
    const std::string d = dir.str();
    std::ofstream(d + "/plain") << "x";
    std::ofstream(d + "/.hidden") << "x";
    std::ofstream(d + "/readonly") << "x";
    chmod((d + "/readonly").c_str(), 0444);
    std::ofstream(d + "/with space") << "x";
    mkdir((d + "/folder").c_str(), 0755);
    ASSERT_EQ(symlink((d + "/plain").c_str(), (d + "/link").c_str()), 0);
    ASSERT_EQ(symlink((d + "/gone").c_str(), (d + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink((d + "/folder").c_str(), (d + "/dirlink").c_str()), 0);

    RealFiles platform;
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {
        {d + "/plain", true},      {d + "/.hidden", true},  {d + "/readonly", true},
        {d + "/with space", true}, {d + "/link", true},     {d + "/folder", false},
        {d + "/folder/", false},   {d + "/dirlink", false}, {d + "/dangling", false},
        {d + "/missing", false},   {d + "/plain/", false},  {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(modDoredAviro::FileExists(platform, c.path), c.exists) << c.path;
    }
    EXPECT_EQ(posix::FindFile(d + "/.hidden"), ".hidden");
}

TEST(SystemTest, ProgramFolderIsWhereThisProgramLiesOrNothing) {
    const std::string dir = posix::ProgramFolder();
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(dir + "/", std::string(exe).substr(0, dir.size() + 1));
    EXPECT_EQ(std::string(exe).find('/', dir.size() + 1), std::string::npos);
    // Not the current directory.
    const std::string before = posix::CurrentDirectory();
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(posix::ProgramFolder(), dir);
    EXPECT_EQ(posix::CurrentDirectory(), "/");
    // When the program file cannot be told, no folder at all: never the current one.
    EXPECT_EQ(posix::ProgramFolder("/proc/self/no-such-link"), "");
    ASSERT_EQ(chdir(before.c_str()), 0);
}

TEST(UriListTest, DecodesLocalFilesToTheirBytes) {
    const std::string list =
        "# a comment\r\n"
        "file:///home/u/with%20space.txt\r\n"
        "file:///home/u/100%25%20%23hash%3F.txt\r\n"
        "file:///home/u/%E6%97%A5%E6%9C%AC%E8%AA%9E\r\n"
        "file:///home/u/latin1-%E9-byte\r\n"
        "file:///home/u/two%0Alines\r\n"
        "file://localhost/home/u/localhost\r\n"
        "FILE:/home/u/short\r\n"
        "http://example.org/not-a-file\r\n"
        "file://elsewhere.invalid/home/u/remote\r\n"
        "file:///home/u/nul%00byte\r\n"
        "file:///home/u/bad%zzescape%4\r\n"
        "file:///home/u/folder/\n"
        "file:///last-without-newline";
    const std::vector<std::string> expected = {
        "/home/u/with space.txt", "/home/u/100% #hash?.txt",
        "/home/u/日本語",         "/home/u/latin1-\xE9-byte",
        "/home/u/two\nlines",     "/home/u/localhost",
        "/home/u/short",          "/home/u/bad%zzescape%4",
        "/home/u/folder/",        "/last-without-newline",
    };
    EXPECT_EQ(posix::LocalPathsFromUriList(list), expected);
    EXPECT_TRUE(posix::LocalPathsFromUriList("").empty());
    EXPECT_TRUE(posix::LocalPathsFromUriList("\r\n\r\n").empty());
}

TEST(UriListTest, CopiedFilesAreTheListAfterTheirAction) {
    const std::vector<std::string> both = {"/home/u/a b", "/home/u/\xff"};
    EXPECT_EQ(posix::LocalPathsFromCopiedFiles("copy\nfile:///home/u/a%20b\nfile:///home/u/%FF"),
              both);
    EXPECT_EQ(
        posix::LocalPathsFromCopiedFiles("cut\r\nfile:///home/u/a%20b\r\nfile:///home/u/%FF\r\n"),
        both);
    // A file named like an action is a path like any other once the action is read.
    EXPECT_EQ(posix::LocalPathsFromCopiedFiles("copy\nfile:///copy"),
              std::vector<std::string>{"/copy"});
    // Without a known action first it is some other text, not copied files.
    EXPECT_TRUE(posix::LocalPathsFromCopiedFiles("file:///home/u/a\nfile:///home/u/b").empty());
    EXPECT_TRUE(posix::LocalPathsFromCopiedFiles("move\nfile:///home/u/a").empty());
    EXPECT_TRUE(posix::LocalPathsFromCopiedFiles("copy").empty());
    EXPECT_TRUE(posix::LocalPathsFromCopiedFiles("").empty());
}

// Starts the lock probe as its own process; its pid, and its output as a pipe.
struct Probe {
    pid_t pid = -1;
    int out = -1;
};

Probe StartProbe(int holdMs) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    const std::string hold = std::to_string(holdMs);
    char* argv[] = {const_cast<char*>(LOCK_PROBE_PATH), const_cast<char*>(hold.c_str()), nullptr};
    Probe probe;
    if (posix_spawn(&probe.pid, LOCK_PROBE_PATH, &actions, nullptr, argv, environ) != 0) {
        probe.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipefd[1]);
    probe.out = pipefd[0];
    return probe;
}

std::string ReadAll(int fd) {
    std::string s;
    char buf[64];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return s;
}

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGCHLD, SIG_DFL);  // these tests wait for their children
        chmod(dir_.str().c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
        setenv("HOME", dir_.file("home").c_str(), 1);
        unsetenv("XDG_CACHE_HOME");
        mkdir(dir_.file("home").c_str(), 0700);
        setenv("DISPLAY", ":97", 1);
    }
    testing::TempDir dir_;
};

TEST_F(InstanceLockTest, OfCopiesStartedAtOnceExactlyOneRuns) {
    std::vector<Probe> probes;
    for (int i = 0; i < 8; ++i) probes.push_back(StartProbe(1500));
    int acquired = 0, refused = 0;
    for (Probe& p : probes) {
        ASSERT_GT(p.pid, 0);
        const std::string said = ReadAll(p.out);
        int status = 0;
        waitpid(p.pid, &status, 0);
        acquired += said == "acquired\n";
        refused += said == "refused\n";
    }
    EXPECT_EQ(acquired, 1);
    EXPECT_EQ(refused, 7);
    // All gone: the next start runs.
    Probe next = StartProbe(0);
    EXPECT_EQ(ReadAll(next.out), "acquired\n");
    waitpid(next.pid, nullptr, 0);
}

TEST_F(InstanceLockTest, AKilledCopyNeverBlocksTheNextStart) {
    Probe holder = StartProbe(60000);
    char line[16] = {};
    ASSERT_GT(read(holder.out, line, sizeof line - 1), 0);
    ASSERT_STREQ(line, "acquired\n");

    Probe second = StartProbe(0);
    EXPECT_EQ(ReadAll(second.out), "refused\n");
    waitpid(second.pid, nullptr, 0);

    kill(holder.pid, SIGKILL);
    waitpid(holder.pid, nullptr, 0);
    close(holder.out);
    Probe third = StartProbe(0);
    EXPECT_EQ(ReadAll(third.out), "acquired\n");
    waitpid(third.pid, nullptr, 0);
}

TEST_F(InstanceLockTest, OtherDisplaysAndScreensOfTheSameDisplay) {
    Probe holder = StartProbe(60000);
    char line[16] = {};
    ASSERT_GT(read(holder.out, line, sizeof line - 1), 0);

    setenv("DISPLAY", ":97.0", 1);  // the same display session
    EXPECT_TRUE(posix::AnotherInstanceRuns());
    setenv("DISPLAY", ":98", 1);  // another one
    EXPECT_FALSE(posix::AnotherInstanceRuns());

    kill(holder.pid, SIGKILL);
    waitpid(holder.pid, nullptr, 0);
    close(holder.out);
}

TEST_F(InstanceLockTest, ALockThatCannotBeTakenLetsItRunAndSaysWhy) {
    // Something that is no lock file stands where each lock goes.
    const std::vector<std::string> locks = posix::InstanceLockPaths();
    ASSERT_EQ(locks.size(), 2u);
    ASSERT_EQ(mkdir(locks[0].c_str(), 0700), 0);
    ASSERT_EQ(mkdir(locks[1].c_str(), 0700), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(posix::AnotherInstanceRuns());
    const std::string said = ::testing::internal::GetCapturedStderr();
    for (const std::string& lock : locks) EXPECT_NE(said.find(lock), std::string::npos) << said;
    EXPECT_NE(said.find("running without it"), std::string::npos) << said;
    EXPECT_FALSE(posix::HoldsInstanceLock());
    // One that can be taken is enough to run with.
    rmdir(locks[0].c_str());
    EXPECT_FALSE(posix::AnotherInstanceRuns());
    EXPECT_EQ(posix::HeldInstanceLocks(), std::vector<std::string>{locks[0]});
}

}  // namespace
}  // namespace doredaviro
