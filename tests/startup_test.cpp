#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/frmDoredAviro.h"
#include "core/modDoredAviro.h"
#include "core/paths.h"
#include "fake_platform.h"
#include "test_support.h"

namespace doredaviro {
namespace {

using testing::FakePlatform;
using testing::MsgBoxCall;

const MsgBoxCall kAlreadyRunning{"このアプリケーションはすでに開かれています。",
                                 MessageStyle::Exclamation, "ロードエラー"};
const MsgBoxCall kIniMissing{
    "設定ファイルが見つかりません。\r\nZivev+Korvu.iniが存在するか確認して下さい。",
    MessageStyle::Critical, "+Korvu支援Tool  Zivev+Korvu"};
const MsgBoxCall kToolMissing{
    "+KorvuのPATHが見つかりません。\r\nZivev+Korvu.iniの設定を見直して下さい。",
    MessageStyle::Critical, "+Korvu支援Tool  Zivev+Korvu"};

const Settings kStale{"stale", "stale"};

// An absolute path in the system's own syntax.
#ifdef _WIN32
#define ROOT "C:\\"
constexpr char kSep = '\\';
#else
#define ROOT "/"
constexpr char kSep = '/';
#endif
const std::string kRoot = ROOT;
#define TOOL ROOT "usr" ROOT "korvu"
const char* const kTool = TOOL;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { fake_.programFolder = dir_.str(); }
    std::string iniPath() const { return dir_.str() + fake_.PathSeparator() + "Zivev+Korvu.ini"; }
    // Writes the settings file and lets the directory search see it.
    void writeIni(const std::string& content) {
        testing::WriteFile(iniPath(), content);
        fake_.files.insert(iniPath());
    }

    testing::TempDir dir_;
    FakePlatform fake_;
};

TEST_F(StartupTest, AllChecksPassShowsTheWindowSilently) {
    writeIni("[Korvu Path]\r\nPath=" TOOL "\r\n");
    fake_.files.insert(kTool);
    frmDoredAviro form(fake_, fake_, kStale);

    EXPECT_TRUE(form.Form_Load());
    EXPECT_TRUE(form.Loaded());
    EXPECT_TRUE(fake_.msgBoxes.empty());
    EXPECT_EQ(fake_.unloads, 0);
    EXPECT_EQ(form.settings().IniPath, iniPath());
    EXPECT_EQ(form.settings().ToolPath, kTool);
    EXPECT_EQ(fake_.log, (std::vector<std::string>{"FindFile " + iniPath(), "FindFile " TOOL}));
}

TEST_F(StartupTest, SecondCopyOnlyWarnsAndEnds) {
    writeIni("[Korvu Path]\nPath=" TOOL "\n");
    fake_.files.insert(kTool);
    fake_.prevInstance = true;
    frmDoredAviro form(fake_, fake_, kStale);

    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kAlreadyRunning});
    EXPECT_EQ(fake_.ends, 1);
    // Nothing after the end: no settings read, no further check.
    EXPECT_EQ(fake_.log.back(), "End 0");
    EXPECT_TRUE(fake_.handedOver.empty());
    EXPECT_EQ(form.settings().IniPath, "stale");
}

struct FailureCase {
    const char* name;
    const char* ini;  // nullptr: no settings file
    bool toolExists;
    std::vector<MsgBoxCall> messages;
    std::string toolPath;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class StartupFailureTest : public StartupTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailureTest, ReportsEachFailureAndNeverShowsTheWindow) {
    const FailureCase& c = GetParam();
    if (c.ini) writeIni(c.ini);
    if (c.toolExists) fake_.files.insert(kTool);
    frmDoredAviro form(fake_, fake_, kStale);

    EXPECT_FALSE(form.Form_Load());
    EXPECT_FALSE(form.Loaded());
    EXPECT_EQ(fake_.msgBoxes, c.messages);
    EXPECT_GE(fake_.unloads, 1);
    EXPECT_EQ(fake_.ends, 0);
    EXPECT_EQ(form.settings().IniPath, iniPath());
    EXPECT_EQ(form.settings().ToolPath, c.toolPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupFailureTest,
    ::testing::Values(
        FailureCase{"NoSettingsFile", nullptr, true, {kIniMissing, kToolMissing}, ""},
        FailureCase{"ToolMissing", "[Korvu Path]\nPath=" TOOL "\n", false, {kToolMissing}, kTool},
        FailureCase{"NoKey", "[Korvu Path]\nTool=" TOOL "\n", true, {kToolMissing}, ""},
        FailureCase{"EmptyValue", "[Korvu Path]\nPath=\n", true, {kToolMissing}, ""},
        FailureCase{"OtherSection", "[Other]\nPath=" TOOL "\n", true, {kToolMissing}, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(StartupTest, ToolPathKeepsSpacesAndCapsAt199Bytes) {
    const std::string spaced = std::string(kRoot) + "My Tools" + kSep + "korvu";
    writeIni("[Korvu Path]\nPath=" + spaced + "\n");
    EXPECT_EQ(modDoredAviro::LoadSettings(fake_).ToolPath, spaced);

    const std::string longValue = kRoot + std::string(247, 'a');
    writeIni("[Korvu Path]\nPath=" + longValue + "\n");
    EXPECT_EQ(modDoredAviro::LoadSettings(fake_).ToolPath, longValue.substr(0, 199));
}

TEST_F(StartupTest, UnknownProgramFolderIsAMissingSettingsFileNeverTheCurrentOne) {
    fake_.programFolder = "";
    fake_.curDir = dir_.str();
    writeIni("[Korvu Path]\nPath=" TOOL "\n");  // planted where it was started
    fake_.files.insert(kTool);
    frmDoredAviro form(fake_, fake_);

    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(fake_.msgBoxes, (std::vector<MsgBoxCall>{kIniMissing, kToolMissing}));
    EXPECT_EQ(form.settings().IniPath, "");
    EXPECT_EQ(form.settings().ToolPath, "");
    // Nothing looked for anywhere: not the planted file, not the archiver it names.
    EXPECT_EQ(fake_.log, (std::vector<std::string>{"MsgBox " + kIniMissing.prompt, "Unload",
                                                   "MsgBox " + kToolMissing.prompt, "Unload"}));
}

TEST_F(StartupTest, RelativeArchiverIsTakenBesideTheSettingsFile) {
    const std::string relative = std::string("tools") + fake_.PathSeparator() + "korvu";
    writeIni("[Korvu Path]\nPath=" + relative + "\n");
    fake_.curDir = dir_.file("elsewhere");
    fake_.files.insert(dir_.file(relative));
    fake_.files.insert(fake_.curDir + fake_.PathSeparator() + relative);
    frmDoredAviro form(fake_, fake_);
    EXPECT_TRUE(form.Form_Load());
    EXPECT_EQ(form.settings().ToolPath, dir_.file(relative));
}

TEST(AbsolutePathTest, AbsoluteStaysRelativeJoinsTheFolder) {
    struct Case {
        const char* value;
        const char* folder;
        char separator;
        const char* want;
    };
    const Case cases[] = {
        {"/usr/bin/korvu", "/opt/app", '/', "/usr/bin/korvu"},
        {"korvu", "/opt/app", '/', "/opt/app/korvu"},
        {"../bin/korvu", "/opt/app", '/', "/opt/app/../bin/korvu"},
        {"C:\\k\\korvu.exe", "D:\\app", '\\', "C:\\k\\korvu.exe"},
        {"c:/k/korvu.exe", "D:\\app", '\\', "c:/k/korvu.exe"},
        {"\\\\srv\\share\\korvu.exe", "D:\\app", '\\', "\\\\srv\\share\\korvu.exe"},
        {"korvu.exe", "D:\\app", '\\', "D:\\app\\korvu.exe"},
        {"sub\\korvu.exe", "D:\\app", '\\', "D:\\app\\sub\\korvu.exe"},
        {"\\tools\\korvu.exe", "D:\\app", '\\', "D:\\tools\\korvu.exe"},
        {"\\tools\\korvu.exe", "\\\\srv\\share\\app", '\\', "\\\\srv\\share\\tools\\korvu.exe"},
        {"E:korvu.exe", "D:\\app", '\\', "E:\\korvu.exe"},
        {"", "D:\\app", '\\', ""},
        {"", "/opt/app", '/', ""},
        {"--", "/home/u", '/', "/home/u/--"},
        {"a/../b\\c", "/home/u", '/', "/home/u/a/../b\\c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AbsolutePath(c.value, c.folder, c.separator), c.want) << c.value;
    }
}

struct HandOverCase {
    const char* name;
    HandOverResult result;
    std::vector<MsgBoxCall> messages;
    int endStatus;  // -1: it goes on as the running copy
    friend void PrintTo(const HandOverCase& c, std::ostream* os) { *os << c.name; }
};

const MsgBoxCall kHandOverFailed{
    "実行中のZivev+Korvuに項目を渡せませんでした。\r\n項目はリストに追加されていません。",
    MessageStyle::Exclamation, "+Korvu支援Tool  Zivev+Korvu"};

class SecondStartTest : public StartupTest, public ::testing::WithParamInterface<HandOverCase> {};

TEST_P(SecondStartTest, HandsItsPathsToTheRunningCopy) {
    const HandOverCase& c = GetParam();
    writeIni("[Korvu Path]\nPath=" TOOL "\n");
    fake_.files.insert(kTool);
    fake_.prevInstance = true;
    fake_.handOverResult = c.result;
    frmDoredAviro form(fake_, fake_);
    form.SetCommandLine({"", std::string("rel") + kSep + "a b", kTool, ""},
                        kRoot + std::string("start"));

    EXPECT_EQ(form.Form_Load(), c.endStatus < 0);
    const std::vector<std::string> paths = {
        kRoot + std::string("start") + kSep + "rel" + kSep + "a b", kTool};
    EXPECT_EQ(fake_.handedOver, std::vector<std::vector<std::string>>{paths});
    EXPECT_EQ(fake_.msgBoxes, c.messages);
    EXPECT_EQ(fake_.endStatus, c.endStatus);
    if (c.endStatus < 0) {
        // The other copy ended meanwhile: this one runs, with its own paths as one drop.
        form.OpenCommandLine();
        EXPECT_EQ(fake_.rows, (std::vector<std::string>{paths[1], paths[0]}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SecondStartTest,
    ::testing::Values(HandOverCase{"Taken", HandOverResult::Taken, {}, 0},
                      HandOverCase{"Refused", HandOverResult::Refused, {kHandOverFailed}, 1},
                      HandOverCase{"NoAnswer", HandOverResult::NoAnswer, {kHandOverFailed}, 1},
                      HandOverCase{"OtherCopyEnded", HandOverResult::NoOtherCopy, {}, -1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(StartupTest, SecondStartWithOnlyEmptyArgumentsIsOneWithoutPaths) {
    fake_.prevInstance = true;
    frmDoredAviro form(fake_, fake_);
    form.SetCommandLine({"", ""}, kRoot);
    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kAlreadyRunning});
    EXPECT_TRUE(fake_.handedOver.empty());
}

TEST(FileExistsTest, EmptyPathIsNeverAFileAndNotSearched) {
    FakePlatform fake;
    EXPECT_FALSE(modDoredAviro::FileExists(fake, ""));
    EXPECT_TRUE(fake.log.empty());
}

}  // namespace
}  // namespace doredaviro
