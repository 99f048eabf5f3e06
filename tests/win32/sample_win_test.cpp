// The sample archiver's Windows file-system layer, under Wine: the names it
// refuses, the entries it will not write over, and publishing that never
// replaces.
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "disk_win.h"
#include "fs_win.h"
#include "fsutil.h"
#include "win_names.h"

namespace korvu {
namespace {

TEST(WindowsNames, RefusesWhatWindowsWouldReadAsSomethingElse) {
    for (const char* name : {"",
                             "..",
                             "../x",
                             "a/../../x",
                             "..\\x",
                             "a\\..\\x",
                             "/x",
                             "\\x",
                             "C:\\x",
                             "C:x",
                             "c:/x",
                             "\\\\?\\C:\\x",
                             "\\\\.\\PhysicalDrive0",
                             "\\\\server\\share\\x",
                             "CON",
                             "con",
                             "Con.txt",
                             "NUL",
                             "nul.tar.gz",
                             "a/AUX",
                             "PRN.",
                             "COM1",
                             "com9.log",
                             "LPT1",
                             "lpt5.txt",
                             "COM\xC2\xB9",
                             "CONIN$",
                             "conout$.txt",
                             "NUL .txt",
                             "x.",
                             "x ",
                             "dir./x",
                             "dir /x",
                             "name:stream",
                             "x::$DATA",
                             "a<b",
                             "a>b",
                             "a|b",
                             "a?b",
                             "a*b",
                             "a\"b",
                             "tab\there"}) {
        EXPECT_TRUE(windows_name_problem(name).has_value()) << "accepted: " << name;
    }
}

TEST(WindowsNames, AcceptsOrdinaryNames) {
    for (const char* name :
         {"a.txt", "dir/sub/file", "dir\\file", "./x", "a//b", ".hidden", "..x", "x..y",
          "CONSOLE.txt", "COM10", "LPT", "NULL", "con-x",
          "\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.txt",
          "a b/c d.txt", "dir/"}) {
        EXPECT_FALSE(windows_name_problem(name).has_value()) << "refused: " << name;
    }
}

// A new folder in the temporary folder, removed with all in it.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, tmp), 0u);
        Fd parent(open_folder(std::wstring(L"\\\\?\\") + tmp));
        ASSERT_GE(parent.get(), 0);
        parent_ = std::move(parent);
        folder_.emplace(parent_.get(), TempEntry::Kind::Folder, "tmp");
    }
    void TearDown() override { folder_.reset(); }

    int dir() const { return folder_->fd(); }
    bool exists(const std::string& name) const {
        return GetFileAttributesW(child_path(dir(), name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    Fd parent_;
    std::optional<TempEntry> folder_;
};

using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

Entry entry(mode_t type) {
    Entry e(archive_entry_new(), archive_entry_free);
    archive_entry_set_filetype(e.get(), type);
    archive_entry_set_size(e.get(), 0);
    return e;
}

TEST_F(Scratch, NeverWritesOverAnEarlierEntryUnderAnotherName) {
    WinDisk disk(dir());
    Entry file = entry(AE_IFREG);
    Entry folder = entry(AE_IFDIR);
    ASSERT_FALSE(disk.begin(file.get(), "Sub/Read.txt"));
    ASSERT_FALSE(disk.data("one", 3, 0));
    ASSERT_FALSE(disk.finish());
    // A folder listed after what is in it is no clash.
    EXPECT_FALSE(disk.begin(folder.get(), "Sub"));
    struct Case {
        const char* name;
        mode_t type;
    };
    for (const Case& c :
         {Case{"sub/read.txt", AE_IFREG}, Case{"SUB/READ.TXT", AE_IFREG}, Case{"sub", AE_IFDIR},
          Case{"Sub/Read.txt/x", AE_IFREG}, Case{"Sub/Read.txt", AE_IFDIR}, Case{"CON", AE_IFREG},
          Case{"x.txt:hidden", AE_IFREG}}) {
        Entry e = entry(c.type);
        EXPECT_TRUE(disk.begin(e.get(), c.name)) << "written: " << c.name;
        disk.finish();
    }
    HANDLE h = CreateFileW(child_path(dir(), "Sub/Read.txt").c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[8] = {};
    DWORD n = 0;
    ReadFile(h, buf, sizeof buf, &n, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(buf, n), "one");
}

TEST_F(Scratch, ShortNameOfAnEarlierFolderIsRefused) {
    WinDisk disk(dir());
    Entry file = entry(AE_IFREG);
    ASSERT_FALSE(disk.begin(file.get(), "a long folder name/x"));
    ASSERT_FALSE(disk.finish());
    std::wstring long_path = child_path(dir(), "a long folder name");
    wchar_t short_path[MAX_PATH];
    DWORD n = GetShortPathNameW(long_path.c_str(), short_path, MAX_PATH);
    std::wstring alias = n > 0 ? std::wstring(short_path, n) : L"";
    alias = alias.substr(alias.rfind(L'\\') + 1);
    if (alias.empty() || alias == L"a long folder name") GTEST_SKIP() << "no short names here";
    Entry again = entry(AE_IFREG);
    EXPECT_TRUE(disk.begin(again.get(), utf8(alias) + "/y"));
    EXPECT_FALSE(exists("a long folder name/y"));
}

TEST_F(Scratch, PublishingNeverReplaces) {
    TempEntry taken(dir(), TempEntry::Kind::File, "");
    std::string taken_as = taken.publish([](int n) { return numbered("out", n) + ".zip"; }, "",
                                         [](const std::string&) {});
    ASSERT_EQ(taken_as, "out.zip");
    TempEntry next(dir(), TempEntry::Kind::File, "");
    std::string next_as = next.publish([](int n) { return numbered("out", n) + ".zip"; }, "",
                                       [](const std::string&) {});
    EXPECT_EQ(next_as, "out (2).zip");
    // A failed announcement takes the name back, and the entry goes with its guard.
    {
        TempEntry third(dir(), TempEntry::Kind::Folder, "");
        EXPECT_THROW(third.publish([](int n) { return numbered("x", n); }, "",
                                   [](const std::string&) { throw Failure("no reader"); }),
                     Failure);
        EXPECT_FALSE(exists("x"));
    }
    EXPECT_TRUE(exists("out.zip"));
    EXPECT_TRUE(exists("out (2).zip"));
}

// Run alone (its own ctest entry): it confines the test process for good.
// Wine joins the job but neither reports its limits nor enforces the process
// count; there the test can only see the job, and says what it cannot check.
TEST(Confinement, TheProcessIsInAJobThatAllowsNoOther) {
    ASSERT_EQ(confine_process(256ull << 20), "");
    BOOL in_job = FALSE;
    ASSERT_TRUE(IsProcessInJob(GetCurrentProcess(), nullptr, &in_job));
    EXPECT_TRUE(in_job);
    // Once more, as the archiver does when it caps memory first and confines after.
    EXPECT_EQ(confine_process(256ull << 20), "");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    ASSERT_TRUE(QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                          sizeof limits, nullptr));
    if (limits.BasicLimitInformation.LimitFlags == 0) {
        std::printf("note: this system does not report the job's limits\n");
    } else {
        EXPECT_TRUE(limits.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_ACTIVE_PROCESS);
        EXPECT_EQ(limits.BasicLimitInformation.ActiveProcessLimit, 1u);
        EXPECT_EQ(limits.ProcessMemoryLimit, static_cast<SIZE_T>(256ull << 20));
    }

    wchar_t cmd[] = L"cmd.exe /c exit 0";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, cmd, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &si, &pi)) {
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        // Where the limits are reported, they are enforced too.
        EXPECT_EQ(limits.BasicLimitInformation.LimitFlags, 0u) << "a program started";
        std::printf("note: this system does not enforce the job's process limit\n");
    }
}

}  // namespace
}  // namespace korvu
