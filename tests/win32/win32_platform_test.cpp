// The Windows platform layer against the real system (under Wine in CI): the settings reader,
// launches, the directory search and the single-copy mutex.
// Windows' headers first, on purpose: the core's names must not clash with their macros.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "core/frmDoredAviro.h"
#include "core/iniCtrl.h"
#include "core/modDoredAviro.h"
#include "core/settings_reader.h"
#include "core/texts.h"
#include "input_cases.h"
#include "test_support.h"
#include "win32/hand_over.h"
#include "win32/system.h"
#include "win32/text.h"
#include "win32/win32_form.h"
#include "win32/win32_system.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace doredaviro::win32 {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Japanese users' Windows: where the reader and launches matter most.
bool JapaneseCodePage() { return GetACP() == 932; }

UINT GetDpiForWindowOr96(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return fn ? fn(hwnd) : 96;
}

std::string Sjis(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    const int n = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::string Utf16Le(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    std::string out = "\xFF\xFE";
    for (wchar_t c : wide) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}

// Reads the way the program does, and checks the caller's buffer is used as promised. The
// program's buffer holds 199 bytes of the code page even when each becomes three of UTF-8.
std::string Read(const std::string& file, const std::string& section = "Korvu Path",
                 const std::string& key = "Path") {
    std::vector<char> buffer(kProfileValueBufferSize, ' ');
    const unsigned n =
        ReadProfileString(section, key, "", buffer.data(), kProfileValueBufferSize, file);
    EXPECT_LT(n, kProfileValueBufferSize);
    EXPECT_EQ(std::strlen(buffer.data()), n);
    const std::string value(buffer.data(), n);
    EXPECT_EQ(iniCtrl::GetIniString(section, key, file), value);
    return value;
}

// The tests of code page 932 behaviour skip without it; this one says so loudly.
TEST(EnvironmentTest, RunsUnderTheJapaneseCodePage) {
    EXPECT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8, as scripts/win.sh test does";
}

TEST(TextTest, Utf16RoundTripsExactlyEvenWithLoneSurrogates) {
    const std::wstring samples[] = {L"C:\\\u65E5\u672C\u8A9E\\caf\u00E9.txt",
                                    L"\xD83D\xDE00",  // U+1F600
                                    L"a\xD800z",
                                    L"\xDC00",
                                    L"\xD800\xD800",
                                    L"",
                                    L"x\xDBFF"};
    for (const std::wstring& s : samples) EXPECT_EQ(Widen(Narrow(s)), s);
    EXPECT_EQ(Narrow(L"caf\u00E9"), "caf\xC3\xA9");
    EXPECT_EQ(Narrow(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Widen("\xE6\x97\xA5"), L"\u65E5");
    // Bytes that are no UTF-8 at all: one replacement character each, nothing dropped silently.
    EXPECT_EQ(Widen("a\xFF"
                    "b\xC3"),
              L"a\uFFFDb\uFFFD");
    EXPECT_EQ(Widen("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong
}

TEST(QuoteArgumentTest, TheArchiversParserGetsBackThePath) {
    const std::wstring paths[] = {L"C:\\My Files\\a b.txt",
                                  L"Z:\\",
                                  L"C:\\dir\\",
                                  L"C:\\dir\\\\",
                                  L"\\\\server\\share\\",
                                  L"C:\\a\\b",
                                  L"C:\\\u65E5\u672C\\caf\u00E9"};
    for (const std::wstring& path : paths) {
        const std::wstring line = L"korvu.exe " + QuoteArgument(path);
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(argc, 2) << Narrow(line);
        EXPECT_EQ(std::wstring(argv[1]), path) << Narrow(line);
        LocalFree(argv);
    }
    EXPECT_EQ(QuoteArgument(L"D:\\"), L"\"D:\\\\\"");
    EXPECT_EQ(QuoteArgument(L"C:\\a b"), L"\"C:\\a b\"");
    EXPECT_EQ(QuoteArgument(L"C:\\x\\\\"), L"\"C:\\x\\\\\\\\\"");
}

// --- The settings reader --------------------------------------------------------------------

class ProfileReaderTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes, const std::string& name = "Zivev+Korvu.ini") {
        const std::string path = dir_.file(name);
        WriteFile(path, bytes);
        return path;
    }
    TempDir dir_;
};

TEST_F(ProfileReaderTest, AnsiFile) {
    const std::string ini = Write(
        "; settings\r\n[Other]\r\nPath=C:\\wrong.exe\r\n[Korvu Path]\r\n"
        "Path=C:\\Program Files\\Korvu\\korvu.exe\r\nQuoted=\"C:\\a b\\k.exe\"\r\n"
        "Long=" +
        std::string(250, 'x') + "\r\nEmpty=\r\n");
    EXPECT_EQ(Read(ini), "C:\\Program Files\\Korvu\\korvu.exe");
    EXPECT_EQ(Read(ini, "korvu path", "PATH"), "C:\\Program Files\\Korvu\\korvu.exe");
    EXPECT_EQ(Read(ini, "Korvu Path", "Quoted"), "C:\\a b\\k.exe");
    EXPECT_EQ(Read(ini, "Korvu Path", "Long"), std::string(199, 'x'));
    EXPECT_EQ(Read(ini, "Korvu Path", "Empty"), "");
    EXPECT_EQ(Read(ini, "Korvu Path", "Missing"), "");
    EXPECT_EQ(Read(ini, "Missing", "Path"), "");
    EXPECT_EQ(Read(dir_.file("missing.ini")), "");
    EXPECT_EQ(Read(dir_.str()), "");  // a folder

    char buffer[16];
    EXPECT_EQ(ReadProfileString("Korvu Path", "Missing", "dflt", buffer, sizeof buffer, ini), 4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(ReadProfileString("Korvu Path", "Path", "", buffer, 6, ini), 5u);
    EXPECT_STREQ(buffer, "C:\\Pr");
    EXPECT_EQ(ReadProfileString("Korvu Path", "Path", "", nullptr, 6, ini), 0u);
}

TEST_F(ProfileReaderTest, ShiftJisFileComesBackAsUtf8) {
    if (!JapaneseCodePage()) GTEST_SKIP() << "needs the Japanese ANSI code page";
    // 表 is 95 5C: its trail byte must not be taken for a backslash.
    const std::string path = "C:\\ツール\\表\\k.exe";
    const std::string ini =
        Write(Sjis("[Korvu Path]\r\nPath=" + path + "\r\n[設定]\r\nパス=値\r\n"));
    EXPECT_EQ(Read(ini), path);
    EXPECT_EQ(Read(ini, "設定", "パス"), "値");

    // A double-byte character cut at the end leaves no stray byte behind.
    const std::string a198(198, 'a');
    EXPECT_EQ(Read(Write(Sjis("[Korvu Path]\r\nPath=" + a198 + "表\r\n"), "cut.ini")), a198);
    // 100 double-byte characters are 200 bytes of the code page: the 99 that fit in 199 come
    // back whole, as 297 bytes of UTF-8.
    std::string hyo;
    for (int i = 0; i < 100; ++i) hyo += "表";
    const std::string value = Read(Write(Sjis("[Korvu Path]\r\nPath=" + hyo + "\r\n"), "long.ini"));
    EXPECT_EQ(value, hyo.substr(0, 99 * 3));
    // Half-width kana are one byte of the code page and three of UTF-8.
    std::string kana;
    for (int i = 0; i < 250; ++i) kana += "ｱ";
    EXPECT_EQ(Read(Write(Sjis("[Korvu Path]\r\nPath=" + kana + "\r\n"), "kana.ini")),
              kana.substr(0, 199 * 3));

    // The caller's smaller buffer is cut on a whole character too.
    char buffer[8];
    EXPECT_EQ(ReadProfileString("Korvu Path", "Path", "", buffer, sizeof buffer, ini), 6u);
    EXPECT_STREQ(buffer, "C:\\ツ");
}

TEST_F(ProfileReaderTest, Utf16File) {
    const std::string ini = Write(Utf16Le("[Korvu Path]\r\nPath=C:\\Korvu\\k.exe\r\nJ=ツール\r\n"));
    EXPECT_EQ(Read(ini), "C:\\Korvu\\k.exe");
    if (JapaneseCodePage()) {
        EXPECT_EQ(Read(ini, "Korvu Path", "J"), "ツール");
    }
}

TEST_F(ProfileReaderTest, FileInAFolderTheCodePageCannotSpell) {
    // é is not in code page 932, ツ not in 1252: the short name still reaches the file.
    const std::string folder = dir_.file(JapaneseCodePage() ? "café" : "ツール");
    ASSERT_TRUE(CreateDirectoryW(Widen(folder).c_str(), nullptr));
    const std::string ini = folder + "\\Zivev+Korvu.ini";
    WriteFile(ini, "[Korvu Path]\r\nPath=C:\\k.exe\r\n");
    EXPECT_EQ(Read(ini), "C:\\k.exe");
    // Never a best-fit look-alike: "cafe" must not stand in for "café".
    const std::string lookalike = dir_.file("cafe");
    ASSERT_TRUE(CreateDirectoryW(Widen(lookalike).c_str(), nullptr));
    WriteFile(lookalike + "\\other.ini", "[Korvu Path]\r\nPath=C:\\wrong.exe\r\n");
    EXPECT_EQ(Read(dir_.file("café") + "\\other.ini"), "");
}

// --- Launches -------------------------------------------------------------------------------

using testing::ReadRecorderLog;
using testing::RecorderRecord;
using testing::WaitForRecords;

// The build names its programs by their Unix paths; the archiver's path in a settings file is a
// Windows one, as Wine reaches the Unix root through Z: (Wine 10's ShellExecuteW takes "/x" as
// relative).
std::string WindowsPath(std::string path) {
    if (path.empty() || path[0] != '/') return path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = dir_.file("launches.log");
        ASSERT_TRUE(SetEnvironmentVariableW(L"RECORDER_LOG", Widen(log_).c_str()));
        workdir_ = dir_.file("作業 dir");
        ASSERT_TRUE(CreateDirectoryW(Widen(workdir_).c_str(), nullptr));
    }
    TempDir dir_;
    std::string log_;
    std::string workdir_;
};

TEST_F(LaunchTest, EachPathArrivesAsTheOneParameterIntact) {
    const std::vector<std::string> paths = {"C:\\My Files\\a b.txt", "C:\\日本語\\ファイル.txt",
                                            "C:\\café\\é.txt",       "Z:\\",
                                            "C:\\dir with space\\",  "C:\\two\\\\",
                                            "\\\\server\\share\\x y"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ASSERT_TRUE(Launch(WindowsPath(RECORDER_PATH), paths[i], workdir_)) << paths[i];
        // One at a time, so each record can be matched to its path.
        const std::vector<RecorderRecord> records = WaitForRecords(log_, i + 1);
        ASSERT_EQ(records.size(), i + 1) << paths[i];
        const RecorderRecord& r = records.back();
        EXPECT_EQ(r.at("argc"), "2") << paths[i];
        ASSERT_EQ(r.args.size(), 1u);
        EXPECT_EQ(r.args[0], paths[i]);
        EXPECT_EQ(r.at("cwd"), workdir_);
        // The one parameter as it stands on the command line: quoted, trailing backslashes doubled.
        const std::string cmdline = r.at("cmdline");
        const std::string quoted = " " + Narrow(QuoteArgument(Widen(paths[i])));
        EXPECT_EQ(cmdline.substr(cmdline.size() - std::min(cmdline.size(), quoted.size())), quoted);
    }
    // The ANSI code page of a Japanese system has no é: only the wide call keeps it.
    if (JapaneseCodePage()) {
        EXPECT_EQ(ReadRecorderLog(log_)[2].args[0], "C:\\café\\é.txt");
    }
}

TEST_F(LaunchTest, ArchiverInAFolderTheCodePageCannotSpell) {
    const std::string folder = dir_.file("ツール é");
    ASSERT_TRUE(CreateDirectoryW(Widen(folder).c_str(), nullptr));
    const std::string copy = folder + "\\korvu.exe";
    ASSERT_TRUE(CopyFileW(Widen(RECORDER_PATH).c_str(), Widen(copy).c_str(), FALSE));
    ASSERT_TRUE(Launch(copy, "x", workdir_));
    ASSERT_EQ(WaitForRecords(log_, 1).size(), 1u);
}

TEST_F(LaunchTest, ABatchFileArchiverStillOpensAsTheShellOpensIt) {
    const std::string batch = dir_.file("korvu.bat");
    // The batch runs in another folder, perhaps on another drive: the recorder by its full path.
    wchar_t recorder[MAX_PATH] = {};
    ASSERT_GT(GetFullPathNameW(Widen(RECORDER_PATH).c_str(), MAX_PATH, recorder, nullptr), 0u);
    WriteFile(batch, "@\"" + Narrow(recorder) + "\" %1\r\n");
    HANDLE process = nullptr;
    ASSERT_TRUE(Launch(batch, "C:\\a b.txt", workdir_, &process));
    const std::vector<RecorderRecord> records = WaitForRecords(log_, 1);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].args.size(), 1u);
    EXPECT_EQ(records[0].args[0], "C:\\a b.txt");
    if (process) {
        EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
        CloseHandle(process);
    }
}

TEST_F(LaunchTest, MissingProgramIsAFailedLaunch) {
    EXPECT_FALSE(Launch(dir_.file("no such korvu.exe"), "C:\\a.txt", workdir_));
    EXPECT_FALSE(Launch("", "C:\\a.txt", workdir_));
    Sleep(300);
    EXPECT_TRUE(ReadRecorderLog(log_).empty());
}

// --- The window's list and geometry -----------------------------------------------------------

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(form_.window().Create()); }
    HWND window() { return form_.window().handle(); }
    // What the message loop would do next, without keys or clicks.
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    Win32System system_;
    Win32Form form_{GetModuleHandleW(nullptr), system_};
};

TEST_F(WindowTest, ListKeepsEachPathExactly) {
    // A lone surrogate is a valid Windows file name and must come back unchanged.
    const std::string lone = Narrow(std::wstring(L"C:\\x\xD800y.txt"));
    form_.ListInsertTop({"X"});
    form_.ListInsertTop({"C:\\日本語\\a b.txt", lone, "Z:\\"});
    ASSERT_EQ(form_.ListCount(), 4);
    EXPECT_EQ(form_.ListIndex(), -1);
    const std::vector<std::string> want = {"C:\\日本語\\a b.txt", lone, "Z:\\", "X"};
    for (int row = 0; row < 4; ++row) {
        form_.ListSelect(row);
        EXPECT_EQ(form_.ListIndex(), row);
        EXPECT_EQ(form_.ListText(row), want[static_cast<std::size_t>(row)]);
    }
    EXPECT_EQ(Widen(lone), L"C:\\x\xD800y.txt");
    // What the list box shows is the rendering every front end gives: a lone surrogate cannot be
    // drawn.
    HWND list = FindWindowExW(window(), nullptr, L"ListBox", nullptr);
    wchar_t shown[64] = {};
    SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(shown));
    EXPECT_EQ(std::wstring(shown), L"C:\\x\xFFFDy.txt");

    // The selection follows its row; removing it clears the selection.
    form_.ListSelect(3);
    form_.ListRemove(0, 2);
    EXPECT_EQ(form_.ListIndex(), 1);
    EXPECT_EQ(form_.ListText(1), "X");
    form_.ListRemove(1, 1);
    EXPECT_EQ(form_.ListIndex(), -1);
    EXPECT_EQ(form_.ListCount(), 1);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
}

TEST_F(WindowTest, GeometryInTwipsReadsTheWindowBack) {
    form_.window().ShowCentered(SW_SHOWNOACTIVATE);
    const float pixel = 1440.0f / static_cast<float>(GetDpiForWindowOr96(window()));
    EXPECT_NEAR(form_.ScaleWidth(), kClientWidth, pixel);
    EXPECT_NEAR(form_.ScaleHeight(), kClientHeight, pixel);
    form_.Let(Control::cmdExec, Prop::Left, 3000.0f);
    EXPECT_NEAR(form_.Get(Control::cmdExec, Prop::Left), 3000.0f, pixel);
    form_.Let(Control::cmdExec, Prop::Width, -50.0f);
    EXPECT_EQ(form_.Get(Control::cmdExec, Prop::Width), 0.0f);

    // The list shows whole rows only, so it may keep less height than it is given; the layout
    // places the buttons under what it kept.
    form_.form().Form_Resize();
    const float given = form_.ScaleHeight() / 1.7f;
    const float kept = form_.Get(Control::lstFileList, Prop::Height);
    EXPECT_LE(kept, given + pixel);
    EXPECT_GT(kept, given - 600.0f);
    EXPECT_NEAR(form_.Get(Control::lblF1, Prop::Top), kept + 900.0f, pixel);
    EXPECT_NEAR(form_.Get(Control::cmdClose, Prop::Top), kept + 1100.0f, pixel);
    EXPECT_NEAR(form_.Get(Control::lstFileList, Prop::Width), form_.ScaleWidth() / 1.02f, pixel);
}

TEST_F(WindowTest, ClosedBeforeItIsShownTheNextMessageBoxStillWaits) {
    // What start-up does when the settings file is missing: the window goes, a box follows.
    form_.Unload();
    form_.EndProgram();
    EXPECT_EQ(window(), nullptr);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
        << "a quit message would close the next box at once";
}

TEST_F(WindowTest, ClosedWhileItsLoopRunsTheLoopEnds) {
    form_.window().ShowCentered(SW_SHOWNOACTIVATE);
    PostMessageW(window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form_.window().Run(), 0);
    EXPECT_EQ(window(), nullptr);
}

TEST_F(WindowTest, AlwaysOnTopKeepsPlaceAndSize) {
    form_.window().ShowCentered(SW_SHOWNOACTIVATE);
    RECT before{}, after{};
    GetWindowRect(window(), &before);
    form_.SetAlwaysOnTop(true);
    EXPECT_TRUE(GetWindowLongW(window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    form_.SetAlwaysOnTop(false);
    EXPECT_FALSE(GetWindowLongW(window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    GetWindowRect(window(), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
}

// --- Hand-over from a later start -----------------------------------------------------------

TEST(HandOverTest, PathsRoundTripAndMalformedDataIsRefusedWhole) {
    const std::string lone = Narrow(std::wstring(L"D:/x\xD800y"));
    const HandOverData data{"12.3", {"C:\\a b\\日.txt", "\\\\srv\\share\\x", lone, "Z:\\"}};
    const std::u16string units = EncodeHandOver(data);
    const auto back = DecodeHandOver(units.data(), units.size() * 2);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->slot, data.slot);
    EXPECT_EQ(back->paths, data.paths);

    auto decode = [](const std::u16string& d) { return DecodeHandOver(d.data(), d.size() * 2); };
    const std::u16string slot(u"1.2\0", 4);
    EXPECT_FALSE(decode(slot + u"C:\\a"));                         // no final NUL
    EXPECT_FALSE(decode(slot + std::u16string(u"C:\\a\0\0", 6)));  // an empty path
    EXPECT_FALSE(decode(slot + std::u16string(u"rel\\a\0", 6)));   // relative
    EXPECT_FALSE(decode(slot + std::u16string(u"C:a\0", 4)));      // drive-relative
    EXPECT_FALSE(decode(slot));                                    // no path
    EXPECT_FALSE(decode(std::u16string(u"x.2\0C:\\a\0", 9)));      // no slot name
    EXPECT_FALSE(decode(std::u16string(u"12\0C:\\a\0", 8)));
    EXPECT_FALSE(DecodeHandOver(units.data(), units.size() * 2 - 1));  // half a unit
    EXPECT_FALSE(DecodeHandOver(nullptr, 0));
    EXPECT_FALSE(DecodeHandOver(units.data(), kMaxHandOverBytes + 2));
    std::u16string many = slot;
    for (int i = 0; i < 32768; ++i) many += std::u16string(u"C:\\x\0", 5);
    EXPECT_FALSE(decode(many));
}

// A later start's messages, sent from here as another process would.
struct LaterStart {
    explicit LaterStart(const std::vector<std::string>& paths)
        : slot(HandOverSlot::Create()), data(EncodeHandOver({slot.name(), paths})) {}
    LRESULT Offer(HWND window) {
        COPYDATASTRUCT message{kHandOverTag, static_cast<DWORD>(data.size() * 2), data.data()};
        const LRESULT answer =
            SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message));
        ticket = answer > kHandOverHeld ? static_cast<ULONGLONG>(answer - kHandOverHeld) : 0;
        return answer;
    }
    LRESULT Tell(HWND window) {
        COPYDATASTRUCT confirm{kHandOverConfirmTag, sizeof ticket, &ticket};
        return SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&confirm));
    }
    HandOverSlot slot;
    std::u16string data;
    ULONGLONG ticket = 0;
};

// The tick the form asked for: a timer message, once it is due.
void PumpTimers() {
    for (int i = 0; i < 10; ++i) {
        Sleep(5);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

TEST_F(WindowTest, AHandOverWaitsUntilTheWindowIsShown) {
    LaterStart later({"C:\\\u65E5\\caf\u00E9.txt", "D:\\b"});
    EXPECT_EQ(later.Offer(window()), kHandOverNotReady);
    EXPECT_EQ(form_.ListCount(), 0);
    form_.Show(SW_SHOWNOACTIVATE);
    ASSERT_GT(later.Offer(window()), kHandOverHeld);
    // A message alone confirms nothing; the slot does.
    EXPECT_EQ(later.Tell(window()), kHandOverRefused);
    ASSERT_EQ(later.slot.Settle(HandOverSlot::kConfirmed), HandOverSlot::kOpen);
    EXPECT_EQ(later.Tell(window()), kHandOverTaken);
    EXPECT_EQ(later.Tell(window()), kHandOverRefused);  // once only
    EXPECT_EQ(form_.ListCount(), 0);                    // not inside the sender's messages
    PumpTimers();
    ASSERT_EQ(form_.ListCount(), 2);
    EXPECT_EQ(form_.ListText(1), "C:\\日\\café.txt");

    // A sender that gave up before its message was read holds nothing.
    LaterStart gaveUp({"C:\\late.txt"});
    gaveUp.slot.Settle(HandOverSlot::kWithdrawn);
    EXPECT_EQ(gaveUp.Offer(window()), kHandOverRefused);
    COPYDATASTRUCT other{0x1234, static_cast<DWORD>(later.data.size() * 2), later.data.data()};
    EXPECT_EQ(SendMessageW(window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other)),
              kHandOverRefused);
    EXPECT_EQ(form_.ListCount(), 2);
}

// Closed by the system with two senders held: the one that confirmed in its slot is in the list
// before the window goes, the other finds its slot withdrawn when it tries.
TEST(HandOverWindowTest, ClosedByTheSystemEveryHeldSenderLearnsWhatHappened) {
    class Recording : public Win32Form {
    public:
        using Win32Form::Win32Form;
        std::vector<std::string> added;
        void ListInsertTop(const std::vector<std::string>& rows) override {
            added.insert(added.begin(), rows.begin(), rows.end());
            Win32Form::ListInsertTop(rows);
        }
    };
    Win32System system;
    Recording form(GetModuleHandleW(nullptr), system);
    ASSERT_TRUE(form.window().Create());
    form.Show(SW_SHOWNOACTIVATE);
    HWND window = form.window().handle();
    LaterStart confirmed({"C:\\confirmed.txt"}), late({"C:\\late.txt"});
    ASSERT_GT(confirmed.Offer(window), kHandOverHeld);
    ASSERT_GT(late.Offer(window), kHandOverHeld);
    ASSERT_EQ(confirmed.slot.Settle(HandOverSlot::kConfirmed), HandOverSlot::kOpen);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(form.window().handle(), nullptr);
    EXPECT_EQ(form.added, std::vector<std::string>{"C:\\confirmed.txt"});
    EXPECT_EQ(late.slot.Settle(HandOverSlot::kConfirmed), HandOverSlot::kWithdrawn);
    EXPECT_EQ(form.form().handOver().Held(), 0u);
    // The form refuses what comes after, whoever asks.
    EXPECT_EQ(form.form().handOver().Frame({"C:\\later.txt"}), 0u);
}

TEST_F(WindowTest, TheDesktopHearsOfEndedArchiversWithoutTheWindowChanging) {
    form_.window().ShowCentered(SW_SHOWNOACTIVATE);
    RECT before{}, after{};
    GetWindowRect(window(), &before);
    // With or without the task bar's interface (Wine may lack it), progress never fails.
    form_.TaskbarProgress(1, 3);
    form_.TaskbarProgress(3, 3);
    form_.TaskbarProgress(0, 0);
    // The balloon's text is the form's, cut to what the notification area holds.
    const std::string longPath = "C:\\" + std::string(400, 'x');
    form_.Notify(text::kNoticeTitle, "3件のうち1件が失敗しました。\n" + longPath, true, true);
    const NOTIFYICONDATAW& notice = form_.lastNotice();
    EXPECT_EQ(std::wstring(notice.szInfoTitle), Widen(text::kNoticeTitle));
    const std::wstring shown = notice.szInfo;
    EXPECT_EQ(shown.substr(0, 16), Widen("3件のうち1件が失敗しました。\n"));
    EXPECT_EQ(shown.size(), std::size(notice.szInfo) - 1);
    EXPECT_EQ(notice.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
    EXPECT_EQ(notice.hWnd, window());
    GetWindowRect(window(), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(form_.ListCount(), 0);
}

TEST_F(WindowTest, AnArchiverThatGoesMidBatchIsTheProgramsOwnFailedLaunch) {
    TempDir dir;
    const std::string archiver = dir.file("korvu.exe");
    ASSERT_TRUE(CopyFileW(Widen(RECORDER_PATH).c_str(), Widen(archiver).c_str(), FALSE));
    const std::string log = dir.file("log");
    ASSERT_TRUE(SetEnvironmentVariableW(L"RECORDER_LOG", Widen(log).c_str()));
    const std::string ini = dir.file("Zivev+Korvu.ini");
    WriteFile(ini, "[Korvu Path]\r\nPath=" + archiver + "\r\n");

    class Recording : public Win32System {
    public:
        std::string folder, removeAfterFirst;
        std::vector<std::string> boxes;
        int launches = 0;
        std::string ProgramFolder() override { return folder; }
        bool AnotherCopyRuns() override { return false; }
        void MsgBox(const std::string& prompt, MessageStyle, const std::string&) override {
            boxes.push_back(prompt);
        }
        Launched Launch(const std::string& tool, const std::string& path,
                        const std::string& where) override {
            const Launched result = Win32System::Launch(tool, path, where);
            if (++launches == 1) {
                // Gone once its first copy has ended: the shell would now ask the user.
                WaitForRecords(removeAfterFirst, 1);
                for (int i = 0; i < 100 && !DeleteFileW(Widen(tool).c_str()); ++i) Sleep(50);
            }
            return result;
        }
    } system;
    system.folder = dir.str();
    system.removeAfterFirst = log;
    Win32Form form(GetModuleHandleW(nullptr), system);
    ASSERT_TRUE(form.Load());
    form.window().ShowCentered(SW_SHOWNOACTIVATE);
    system.SetMessageOwner(form.window().handle());
    form.ListInsertTop({"C:\\a", "C:\\b", "C:\\c"});
    form.form().cmdExec_Click();

    EXPECT_EQ(system.launches, 3);
    EXPECT_EQ(system.boxes, (std::vector<std::string>{text::kPleaseWait, text::kLaunchFailed}));
    ASSERT_EQ(form.ListCount(), 2);
    EXPECT_EQ(form.ListText(0), "C:\\b");
    EXPECT_EQ(form.ListText(1), "C:\\c");
    // The one that started is heard of when it ends.
    for (int i = 0; i < 100 && form.form().RunningArchivers() > 0; ++i) {
        Pump();
        Sleep(50);
    }
    EXPECT_EQ(form.form().RunningArchivers(), 0);
}

// A drop as the shell hands it over: the header, then each wide name ended by a NUL, then one
// more.
HDROP MakeDrop(const std::vector<std::wstring>& names) {
    std::wstring list;
    for (const std::wstring& name : names) list += name + L'\0';
    list += L'\0';
    const std::size_t bytes = list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + bytes);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(header + 1, list.data(), bytes);
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

void DispatchPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Clicking the balloon puts the failures back: into the list while the window is open, through
// a new start once it is closed. A window closed during a run gives up the single copy at once,
// and its process still keeps the record and shows the balloon.
TEST(ClosedCopyTest, TheBalloonPutsFailuresBackBeforeAndAfterTheWindowCloses) {
    TempDir dir;
    const std::string archiver = dir.file("korvu.exe");
    ASSERT_TRUE(CopyFileW(Widen(RECORDER_PATH).c_str(), Widen(archiver).c_str(), FALSE));
    ASSERT_TRUE(SetEnvironmentVariableW(L"RECORDER_LOG", Widen(dir.file("log")).c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", Widen(dir.str()).c_str()));
    WriteFile(dir.file("Zivev+Korvu.ini"), "[Korvu Path]\r\nPath=" + archiver + "\r\n");
    class Recording : public Win32System {
    public:
        std::string folder;
        long long skew = 0;  // how much later the clock reads: a run of some seconds
        std::vector<std::vector<std::string>> starts;
        std::string ProgramFolder() override { return folder; }
        bool AnotherCopyRuns() override { return false; }
        void MsgBox(const std::string&, MessageStyle, const std::string&) override {}
        long long Milliseconds() override { return Win32System::Milliseconds() + skew; }
        void StartProgramWith(const std::vector<std::string>& paths) override {
            starts.push_back(paths);
        }
    } system;
    system.folder = dir.str();
    Win32Form form(GetModuleHandleW(nullptr), system);
    ASSERT_TRUE(form.Load());
    form.window().ShowCentered(SW_SHOWNOACTIVATE);
    system.SetMessageOwner(form.window().handle());
    const auto runUntilEnded = [&form] {
        for (int i = 0; i < 200 && form.form().RunningArchivers() > 0; ++i) {
            DispatchPending();
            Sleep(25);
        }
        return form.form().RunningArchivers() == 0;
    };
    const auto click = [&form] {
        SendMessageW(form.lastNotice().hWnd, MainWindow::kNoticeMessage, 1, NIN_BALLOONUSERCLICK);
    };

    form.ListInsertTop({"C:\\b fail", "C:\\ok", "C:\\a fail"});
    form.form().cmdExec_Click();
    system.skew = 10000;
    ASSERT_TRUE(runUntilEnded());
    if (!form.noticeShown()) GTEST_SKIP() << "this shell shows no balloons";
    EXPECT_EQ(Narrow(form.lastNotice().szInfo).rfind("3件のうち2件が失敗しました。", 0), 0u);
    click();
    ASSERT_EQ(form.ListCount(), 2);
    EXPECT_EQ(form.ListText(0), "C:\\b fail");
    EXPECT_EQ(form.ListText(1), "C:\\a fail");

    ReleaseSingleCopy();
    ASSERT_FALSE(AnotherInstanceRuns());
    system.skew = 0;
    form.form().cmdExec_Click();
    form.form().cmdClose_Click();
    EXPECT_FALSE(IsWindowVisible(form.window().handle()));
    EXPECT_FALSE(AnotherInstanceRuns()) << "a later start is the copy at once";
    ReleaseSingleCopy();
    ASSERT_TRUE(runUntilEnded());
    ASSERT_NE(form.window().handle(), nullptr) << "it waits for the balloon's answer";
    EXPECT_EQ(Narrow(form.lastNotice().szInfo).rfind("2件すべて失敗しました。", 0), 0u);
    click();
    EXPECT_EQ(system.starts, (std::vector<std::vector<std::string>>{{"C:\\a fail", "C:\\b fail"}}));
    EXPECT_EQ(form.window().handle(), nullptr);
    WIN32_FIND_DATAW found{};
    int records = 0;
    HANDLE search = FindFirstFileW(Widen(dir.file("Zivev+Korvu\\run-*.tsv")).c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        ++records;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    EXPECT_EQ(records, 2);
}

TEST_F(WindowTest, ADropHandedToTheWindowRatherThanTheListIsTheListsDrop) {
    form_.window().ShowCentered(SW_SHOWNOACTIVATE);
    HWND list = FindWindowExW(window(), nullptr, L"ListBox", nullptr);
    SendMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"C:\\a.txt"})), 0);
    DispatchPending();
    ASSERT_EQ(form_.ListCount(), 1);
    // Some Wine versions deliver it so; it goes in the same way.
    SendMessageW(window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({L"C:\\b c.txt", L"C:\\\u65E5.txt"})), 0);
    DispatchPending();
    ASSERT_EQ(form_.ListCount(), 3);
    const std::vector<std::string> want = {"C:\\\u65E5.txt", "C:\\b c.txt", "C:\\a.txt"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(form_.ListText(row), want[static_cast<std::size_t>(row)]);
    }
}

// --- The input rules, as the Qt window follows them too ----------------------------------------

class InputConformanceTest : public ::testing::TestWithParam<testing::InputCase> {
protected:
    // Message boxes are noted, and what is to happen while one is open happens then; launches
    // are noted only.
    class Noting : public Win32System {
    public:
        std::vector<std::string> messages, launched;
        std::function<void()> whileOpen;
        void MsgBox(const std::string& prompt, MessageStyle, const std::string&) override {
            messages.push_back(prompt);
            if (auto run = std::exchange(whileOpen, nullptr)) run();
        }
        Launched Launch(const std::string&, const std::string& path, const std::string&) override {
            launched.push_back(path);
            return {true, 0};
        }
    };

    void SetUp() override {
        ASSERT_TRUE(form_.window().Create());
        form_.Show(SW_SHOW);
        Pump();
    }
    static std::wstring PathOf(const std::string& name) {
        return L"C:\\conformance\\" + Widen(name);
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) form_.window().Handle(msg);
    }
    void Put(UINT format, HANDLE data) {
        ASSERT_TRUE(OpenClipboard(form_.window().handle()));
        EmptyClipboard();
        SetClipboardData(format, data);
        CloseClipboard();
    }
    // A later start's offer, as from another process.
    void Offer(const std::vector<std::wstring>& paths) {
        std::vector<std::string> utf8;
        for (const std::wstring& path : paths) utf8.push_back(Narrow(path));
        auto sender = std::make_unique<LaterStart>(utf8);
        const bool held = sender->Offer(form_.window().handle()) > kHandOverHeld;
        answers_.push_back(held ? testing::kHeld : testing::kRefused);
        if (held) held_.push_back(std::move(sender));
    }
    // The slot decides; the message that tells the window to look only informs, and comes
    // with the next events.
    void Confirm() {
        ASSERT_FALSE(held_.empty());
        const bool kept =
            held_.front()->slot.Settle(HandOverSlot::kConfirmed) == HandOverSlot::kOpen;
        answers_.push_back(kept ? testing::kKept : testing::kNotKept);
        telling_.push_back(std::move(held_.front()));
        held_.pop_front();
    }
    void Perform(const testing::Step& step, bool settle) {
        using testing::Act;
        std::vector<std::wstring> paths;
        for (const std::string& name : step.names) paths.push_back(PathOf(name));
        HWND target = form_.window().control(step.focus);
        switch (step.act) {
            case Act::Drop:
                SendMessageW(form_.window().control(Control::lstFileList), WM_DROPFILES,
                             reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
                break;
            case Act::CopyFiles:
                Put(CF_HDROP, MakeDrop(paths));
                break;
            case Act::CopyText: {
                const std::wstring text = Widen(step.names[0]);
                HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
                std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
                GlobalUnlock(memory);
                Put(CF_UNICODETEXT, memory);
                break;
            }
            case Act::Press: {
                // The keys held as the system keeps them for this thread, which the window reads.
                BYTE keys[256] = {};
                keys[VK_SHIFT] = (step.shift & kShift) ? 0x80 : 0;
                keys[VK_CONTROL] = (step.shift & kCtrl) ? 0x80 : 0;
                keys[VK_MENU] = (step.shift & kAlt) ? 0x80 : 0;
                SetKeyboardState(keys);
                SetFocus(target);
                const bool alone = step.shift & kAlt && !(step.shift & kCtrl);
                PostMessageW(target, alone ? WM_SYSKEYDOWN : WM_KEYDOWN,
                             static_cast<WPARAM>(step.key), 1);
                Pump();
                const BYTE none[256] = {};
                SetKeyboardState(const_cast<BYTE*>(none));
                break;
            }
            case Act::Select:
                form_.ListSelect(step.row);
                break;
            case Act::CloseBox:
                PostMessageW(form_.window().handle(), WM_CLOSE, 0, 0);
                break;
            case Act::Offer:
                Offer(paths);
                break;
            case Act::Confirm:
                Confirm();
                break;
        }
        if (!settle) return;
        Pump();
        if (telling_.empty()) return;
        for (const auto& sender : telling_) sender->Tell(form_.window().handle());
        telling_.clear();
        // What is kept joins with the tick the form asks for.
        PumpTimers();
    }
    Noting system_;
    Win32Form form_{GetModuleHandleW(nullptr), system_};
    // Later starts: told of room and not confirmed yet, confirmed and still to tell the window,
    // and what they learnt.
    std::deque<std::unique_ptr<LaterStart>> held_, telling_;
    std::vector<std::string> answers_;
};

TEST_P(InputConformanceTest, FollowsTheOneTable) {
    const testing::InputCase& c = GetParam();
    ASSERT_TRUE(RunSteps(
        c, [this](const testing::Step& step, bool settle) { Perform(step, settle); },
        system_.whileOpen))
        << "no message opened for what was to happen while one is open";
    std::vector<std::string> rows;
    for (int row = 0; row < form_.ListCount(); ++row) rows.push_back(form_.ListText(row));
    EXPECT_EQ(testing::NamesOf(rows), c.rows);
    EXPECT_EQ(system_.messages, c.messages);
    EXPECT_EQ(testing::NamesOf(system_.launched), c.launched);
    EXPECT_EQ(form_.form().Loaded() && form_.window().handle() != nullptr, c.open);
    EXPECT_EQ(answers_, c.answers);
}

INSTANTIATE_TEST_SUITE_P(Table, InputConformanceTest, ::testing::ValuesIn(testing::kInputCases),
                         [](const auto& param) { return "Case" + std::to_string(param.index); });

// --- The directory search -------------------------------------------------------------------

class DirTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, DWORD attributes) {
        const std::string path = dir_.file(name);
        WriteFile(path, "x");
        if (attributes) {
            EXPECT_TRUE(SetFileAttributesW(Widen(path).c_str(), attributes));
        }
        made_.push_back(path);
        return path;
    }
    void TearDown() override {
        // Read-only files would outlive the folder's removal.
        for (const std::string& path : made_) {
            SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
    TempDir dir_;
    std::vector<std::string> made_;
};

TEST_F(DirTest, FilesOfEveryKindButNeverAFolder) {
    const std::pair<const char*, DWORD> files[] = {
        {"plain.txt", 0},
        {"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {"system.txt", FILE_ATTRIBUTE_SYSTEM},
        {"readonly.txt", FILE_ATTRIBUTE_READONLY},
        {"archive.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"all.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
        {"日本語 é.txt", 0}};
    Win32System system;
    for (const auto& [name, attributes] : files) {
        const std::string path = Make(name, attributes);
        EXPECT_EQ(FindFile(path), name);
        EXPECT_TRUE(modDoredAviro::FileExists(system, path)) << name;
    }
    const std::string folder = dir_.file("folder");
    ASSERT_TRUE(CreateDirectoryW(Widen(folder).c_str(), nullptr));
    EXPECT_EQ(FindFile(folder), "");
    EXPECT_FALSE(modDoredAviro::FileExists(system, folder));
    EXPECT_FALSE(modDoredAviro::FileExists(system, dir_.file("missing.txt")));
    EXPECT_FALSE(modDoredAviro::FileExists(system, folder + "\\"));
}

TEST_F(DirTest, AFolderMatchedFirstIsPassedOver) {
    // Both orders of the same pattern: whichever the system lists first, the file is found.
    ASSERT_TRUE(CreateDirectoryW(Widen(dir_.file("xa")).c_str(), nullptr));
    Make("xb", 0);
    ASSERT_TRUE(CreateDirectoryW(Widen(dir_.file("xc")).c_str(), nullptr));
    EXPECT_EQ(FindFile(dir_.file("x*")), "xb");
}

// --- The single-copy mutex ------------------------------------------------------------------

TEST(InstanceTest, OfTwoCopiesStartedAtOnceExactlyOneRuns) {
    const std::wstring eventName =
        L"Local\\DoredAviroTestGo" + std::to_wstring(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(go, nullptr);
    auto start = [&](const wchar_t* holdMs) {
        std::wstring line = L"\"" + Widen(INSTANCE_PROBE_PATH) + L"\" " + eventName + L" " + holdMs;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        return pi.hProcess;
    };
    auto exitCode = [](HANDLE process) {
        EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        return code;
    };
    HANDLE first = start(L"1500");
    HANDLE second = start(L"1500");
    Sleep(500);  // both waiting on the signal
    SetEvent(go);
    const DWORD a = exitCode(first), b = exitCode(second);
    EXPECT_EQ(std::min(a, b), 0u);
    EXPECT_EQ(std::max(a, b), 1u);

    // Once both have ended, however they ended, the next copy runs.
    EXPECT_EQ(exitCode(start(L"0")), 0u);
    CloseHandle(go);
}

}  // namespace
}  // namespace doredaviro::win32
