#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "startup/modDoredAviro.h"
#include "test_support.h"
#include "window/frmDoredAviro.h"
#include "window/texts.h"

namespace doredaviro {
namespace {

using testing::FakePlatform;
using testing::MsgBoxCall;

const MsgBoxCall kAlreadyRunning{"このアプリケーションはすでに開かれています。", 48,
                                 "ロードエラー"};
const MsgBoxCall kIniMissing{
    "設定ファイルが見つかりません。\r\nZivev+Korvu.iniが存在するか確認して下さい。", 16,
    "+Korvu支援Tool  Zivev+Korvu"};
const MsgBoxCall kToolMissing{
    "+KorvuのPATHが見つかりません。\r\nZivev+Korvu.iniの設定を見直して下さい。", 16,
    "+Korvu支援Tool  Zivev+Korvu"};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.appPath = dir_.str();
        modDoredAviro::IniPath = "stale";
        modDoredAviro::ToolPath = "stale";
    }
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
    writeIni("[Korvu Path]\r\nPath=/usr/local/bin/korvu\r\n");
    fake_.files.insert("/usr/local/bin/korvu");
    frmDoredAviro form(fake_);

    EXPECT_TRUE(form.Form_Load());
    EXPECT_TRUE(form.Loaded());
    EXPECT_TRUE(fake_.msgBoxes.empty());
    EXPECT_EQ(fake_.unloads, 0);
    EXPECT_EQ(modDoredAviro::IniPath, iniPath());
    EXPECT_EQ(modDoredAviro::ToolPath, "/usr/local/bin/korvu");
    // Both checks go through the directory search with files of every attribute.
    EXPECT_EQ(fake_.log, (std::vector<std::string>{"Dir " + iniPath() + " 39",
                                                   "Dir /usr/local/bin/korvu 39"}));
}

TEST_F(StartupTest, SecondCopyOnlyWarnsAndEnds) {
    writeIni("[Korvu Path]\nPath=/usr/local/bin/korvu\n");
    fake_.files.insert("/usr/local/bin/korvu");
    fake_.prevInstance = true;
    frmDoredAviro form(fake_);

    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kAlreadyRunning});
    EXPECT_EQ(fake_.ends, 1);
    // Nothing after the end: no settings read, no further check.
    EXPECT_EQ(fake_.log.back(), "End");
    EXPECT_EQ(modDoredAviro::IniPath, "stale");
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
    if (c.toolExists) fake_.files.insert("/usr/local/bin/korvu");
    frmDoredAviro form(fake_);

    EXPECT_FALSE(form.Form_Load());
    EXPECT_FALSE(form.Loaded());
    EXPECT_EQ(fake_.msgBoxes, c.messages);
    EXPECT_GE(fake_.unloads, 1);
    EXPECT_EQ(fake_.ends, 0);
    EXPECT_EQ(modDoredAviro::IniPath, iniPath());
    EXPECT_EQ(modDoredAviro::ToolPath, c.toolPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupFailureTest,
    ::testing::Values(
        FailureCase{"NoSettingsFile", nullptr, true, {kIniMissing, kToolMissing}, ""},
        FailureCase{"ToolMissing",
                    "[Korvu Path]\nPath=/usr/local/bin/korvu\n",
                    false,
                    {kToolMissing},
                    "/usr/local/bin/korvu"},
        FailureCase{"NoKey", "[Korvu Path]\nTool=/usr/local/bin/korvu\n", true, {kToolMissing}, ""},
        FailureCase{"EmptyValue", "[Korvu Path]\nPath=\n", true, {kToolMissing}, ""},
        FailureCase{
            "OtherSection", "[Other]\nPath=/usr/local/bin/korvu\n", true, {kToolMissing}, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(StartupTest, ToolPathKeepsSpacesAndCapsAt199Bytes) {
    const std::string spaced = "/opt/My Tools/korvu";
    writeIni("[Korvu Path]\nPath=" + spaced + "\n");
    modDoredAviro::LoadSettings(fake_);
    EXPECT_EQ(modDoredAviro::ToolPath, spaced);

    const std::string longValue = "/" + std::string(249, 'a');
    writeIni("[Korvu Path]\nPath=" + longValue + "\n");
    modDoredAviro::LoadSettings(fake_);
    EXPECT_EQ(modDoredAviro::ToolPath, longValue.substr(0, 199));
}

TEST(FileExistsTest, EmptyPathIsNeverAFileAndNotSearched) {
    FakePlatform fake;
    EXPECT_FALSE(modDoredAviro::FileExists(fake, ""));
    EXPECT_TRUE(fake.log.empty());
}

}  // namespace
}  // namespace doredaviro
