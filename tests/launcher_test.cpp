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

#include "platform/posix/launcher.h"

namespace doredaviro {
namespace {

using Record = std::multimap<std::string, std::string>;

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The recorder's log, one record per start, in the order they were written.
std::vector<Record> ReadRecords(const std::string& log) {
    std::vector<Record> records;
    std::ifstream in(log);
    Record current;
    for (std::string line; std::getline(in, line);) {
        if (line == "end") {
            records.push_back(current);
            current.clear();
            continue;
        }
        const auto eq = line.find('=');
        std::string value = line.substr(eq + 1);
        if (line.compare(0, eq, "arg") == 0 || line.compare(0, eq, "cwd") == 0)
            value = Unhex(value);
        current.emplace(line.substr(0, eq), value);
    }
    return records;
}

std::vector<Record> WaitForRecords(const std::string& log, std::size_t n) {
    for (int i = 0; i < 500; ++i) {
        auto records = ReadRecords(log);
        if (records.size() >= n) return records;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadRecords(log);
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/doredaviro-launch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        log_ = dir_ + "/log";
        setenv("RECORDER_LOG", log_.c_str(), 1);
        posix::ReapChildrenAutomatically();
    }
    void TearDown() override {
        signal(SIGCHLD, SIG_DFL);
        EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    std::string dir_;
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
        ASSERT_EQ(posix::LaunchDetached(RECORDER_PATH, path, dir_), 0) << path;
    }
    const auto records = WaitForRecords(log_, paths.size());
    ASSERT_EQ(records.size(), paths.size());
    std::multiset<std::string> received;
    for (const Record& r : records) {
        EXPECT_EQ(r.find("argc")->second, "2");
        EXPECT_EQ(r.count("arg"), 1u);
        received.insert(r.find("arg")->second);
    }
    EXPECT_EQ(received, std::multiset<std::string>(paths.begin(), paths.end()));
}

TEST_F(LauncherTest, RunsInTheGivenFolderDetachedWithOnlyTheStandardDescriptors) {
    // A descriptor this program inherited without close-on-exec must not leak.
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    const std::string work = dir_ + "/work dir";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(posix::LaunchDetached(RECORDER_PATH, "x", work), 0);
    close(leaky);

    const auto records = WaitForRecords(log_, 1);
    ASSERT_EQ(records.size(), 1u);
    const Record& r = records[0];
    EXPECT_EQ(r.find("cwd")->second, work);
    EXPECT_EQ(r.find("fds")->second, "0,1,2");
    EXPECT_EQ(r.find("session_leader")->second, "1");

    // Reaped by the kernel as soon as it ends: never left a zombie.
    const std::string proc = "/proc/" + r.find("pid")->second;
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = access(proc.c_str(), F_OK) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << proc << " still there";
}

TEST_F(LauncherTest, ReportsEveryWayAStartCanFail) {
    const std::string script = dir_ + "/no-shebang";
    std::ofstream(script) << "echo hi\n";
    chmod(script.c_str(), 0755);
    const std::string notExecutable = dir_ + "/plain";
    std::ofstream(notExecutable) << "data";
    chmod(notExecutable.c_str(), 0644);

    EXPECT_EQ(posix::LaunchDetached(dir_ + "/missing", "a", dir_), ENOENT);
    EXPECT_EQ(posix::LaunchDetached(notExecutable, "a", dir_), EACCES);
    EXPECT_EQ(posix::LaunchDetached(dir_, "a", dir_), EACCES);
    EXPECT_EQ(posix::LaunchDetached(script, "a", dir_), ENOEXEC);
    EXPECT_EQ(posix::LaunchDetached("", "a", dir_), ENOENT);
    EXPECT_NE(posix::LaunchDetached(RECORDER_PATH, "a", dir_ + "/no-such-dir"), 0);
    EXPECT_EQ(posix::LaunchDetached(RECORDER_PATH, std::string("a\0b", 3), dir_), EINVAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(ReadRecords(log_).empty());
}

}  // namespace
}  // namespace doredaviro
