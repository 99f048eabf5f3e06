#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "posix/launcher.h"
#include "test_support.h"

namespace doredaviro {
namespace {

using testing::ReadRecorderLog;
using testing::RecorderRecord;
using testing::WaitForRecords;

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = dir_.file("log");
        setenv("RECORDER_LOG", log_.c_str(), 1);
        posix::ReapChildrenAutomatically();
    }
    void TearDown() override { signal(SIGCHLD, SIG_DFL); }
    testing::TempDir dir_;
    std::string log_;
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
        ASSERT_EQ(posix::LaunchDetached(RECORDER_PATH, path, dir_.str()), 0) << path;
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
    ASSERT_EQ(posix::LaunchDetached(RECORDER_PATH, "x", work), 0);
    close(leaky);

    const auto records = WaitForRecords(log_, 1);
    ASSERT_EQ(records.size(), 1u);
    const RecorderRecord& r = records[0];
    EXPECT_EQ(r.at("cwd"), work);
    EXPECT_EQ(r.at("fds"), "0,1,2");
    EXPECT_EQ(r.at("session_leader"), "1");

    // Reaped by the kernel as soon as it ends: never left a zombie.
    const std::string proc = "/proc/" + r.at("pid");
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = access(proc.c_str(), F_OK) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << proc << " still there";
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
