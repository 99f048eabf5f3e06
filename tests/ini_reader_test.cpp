// The reader's answers for files people write by hand. On Linux they pin down our own reader; on
// Windows the same common cases run against the system's reader through the program's UTF-8
// wrapper. Cases where the two deliberately differ (encodings, multi-byte cuts) or that need
// POSIX file kinds are Linux-only.
#include "core/settings_reader.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/iniCtrl.h"
#include "test_support.h"

namespace doredaviro {
namespace {

using namespace std::string_literals;

struct Case {
    const char* name;
    std::string file;
    std::string want;
};

class IniReaderTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes, const std::string& name = "Zivev+Korvu.ini") {
        std::string path = dir_.file(name);
        std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        EXPECT_TRUE(out) << path;
        return path;
    }

    // Reads the way the program does: a 200-byte buffer of spaces and an empty default.
    std::string Read(const std::string& path, const std::string& section = "Korvu Path",
                     const std::string& key = "Path") {
        char buf[200];
        std::memset(buf, ' ', sizeof buf);
        unsigned ret = ReadProfileString(section, key, "", buf, sizeof buf, path);
        EXPECT_LT(ret, sizeof buf);
        EXPECT_EQ(std::strlen(buf), ret);
        std::string value(buf, ret);
        EXPECT_EQ(iniCtrl::GetIniString(section, key, path), value);
        return value;
    }

    void RunTable(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(Read(Write(c.file)), c.want);
        }
    }

    testing::TempDir dir_;
};

TEST_F(IniReaderTest, LineEndsAndBlanks) {
    RunTable({
        {"CRLF", "[Korvu Path]\r\nPath=C:\\Korvu\\k.exe\r\n", "C:\\Korvu\\k.exe"},
        {"LF, no final newline", "[Korvu Path]\nPath=/usr/bin/korvu", "/usr/bin/korvu"},
        {"CR only", "[Other]\rPath=x\r[Korvu Path]\rPath=/opt/k\r", "/opt/k"},
        {"CR CR LF and blank lines", "\r\n\r\n[Korvu Path]\r\r\n\n\nPath=a\r\r\n", "a"},
        {"lone CR cuts the value", "[Korvu Path]\nPath=/a/b\rc\n", "/a/b"},
        {"padding around = and names", "  [Korvu Path]  \n\t Path \t=  \t/a b/c \t \n", "/a b/c"},
        {"VT FF and ^Z are blanks", "\x1A[Korvu Path]\x0C\nPath=\x0B/a\x1A\n", "/a"},
    });
#ifndef _WIN32
    // Bytes as stored; the Windows reader gives them in the ANSI code page's reading instead.
    RunTable({
        {"ideographic space and A0 kept", "[Korvu Path]\nPath=\x81\x40/a\xA0\n", "\x81\x40/a\xA0"},
    });
#endif
}

TEST_F(IniReaderTest, SectionsAndKeys) {
    RunTable({
        {"other letter case", "[KORVU path]\npATH=/a\n", "/a"},
        {"blanks inside brackets", "[ Korvu Path ]\nPath=/a\n", "/a"},
        {"two spaces in name", "[Korvu  Path]\nPath=/a\n", ""},
        {"keys before any header", "Path=/x\n[Korvu Path]\nOther=1\n", ""},
        {"missing section", "[Other]\nPath=/a\n", ""},
        {"missing key", "[Korvu Path]\nPathX=/a\nXPath=/b\n", ""},
        {"first key wins", "[Korvu Path]\nPath=/first\nPath=/second\n", "/first"},
        {"first key wins with no =", "[Korvu Path]\nPath\nPath=/second\n", ""},
        {"empty value", "[Korvu Path]\nPath=\nPath=/second\n", ""},
        {"first section only", "[Korvu Path]\nA=1\n[korvu path]\nPath=/late\n", ""},
        {"later section does not leak", "[Korvu Path]\nA=1\n[Next]\nPath=/next\n", ""},
        {"text after the last ]", "[Korvu Path] junk\nPath=/a\n", "/a"},
        {"last ] names the section", "[Korvu Path] ; see [notes]\nPath=/a\n", ""},
        {"doubled ]", "[Korvu Path]]\nPath=/a\n", ""},
        {"doubled [", "[[Korvu Path]\nPath=/a\n", ""},
        {"key on the header line is lost", "[Korvu Path]Path=/a\n", ""},
        {"unterminated [ stays in section", "[Korvu Path]\n[Next\nPath=/a\n", "/a"},
        {"unterminated [ is no header", "[Korvu Path\nPath=/a\n", ""},
        {"comment-looking keys", "[Korvu Path]\n;Path=/c\n#Path=/h\nREM Path=/r\nPath=/a\n", "/a"},
        {"commented-out header", ";[Korvu Path]\nPath=/a\n", ""},
    });
}

TEST_F(IniReaderTest, Values) {
    RunTable({
        {"double quotes", "[Korvu Path]\nPath=\"C:\\Program Files\\k.exe\"\n",
         "C:\\Program Files\\k.exe"},
        {"single quotes", "[Korvu Path]\nPath='/a b'\n", "/a b"},
        {"empty quotes", "[Korvu Path]\nPath=\"\"\n", ""},
        {"one pair only", "[Korvu Path]\nPath=\"\"x\"\"\n", "\"x\""},
        {"blanks inside quotes kept", "[Korvu Path]\nPath=  \"  x  \"  \n", "  x  "},
        {"outer pair of two", "[Korvu Path]\nPath=\"a\" \"b\"\n", "a\" \"b"},
        {"single quote char", "[Korvu Path]\nPath=\"\n", "\""},
        {"mixed quotes kept", "[Korvu Path]\nPath=\"/a'\n", "\"/a'"},
        {"quote then comment kept", "[Korvu Path]\nPath=\"/a\" ; c\n", "\"/a\" ; c"},
        {"comment is part of value", "[Korvu Path]\nPath=/a ; note # x\n", "/a ; note # x"},
        {"first = splits", "[Korvu Path]\nPath==x\n", "=x"},
        {"= inside value", "[Korvu Path]\nPath = C:\\a=b\n", "C:\\a=b"},
        {"no escapes or variables", "[Korvu Path]\nPath=%WINDIR%\\t\\n\n", "%WINDIR%\\t\\n"},
        {"full-width = is no separator", "[Korvu Path]\nPath\x81\x81x\nPath=/a\n", "/a"},
        {"NUL ends the value", "[Korvu Path]\nPath=/a\0/b\n"s, "/a"},
#ifdef _WIN32
        // The system's reader ends the value at the NUL before it looks for the closing quote.
        {"NUL inside quotes", "[Korvu Path]\nPath=\"/a\0b\"\n"s, "\"/a"},
#else
        {"NUL inside quotes", "[Korvu Path]\nPath=\"/a\0b\"\n"s, "/a"},
#endif
        {"NUL first in file", "\0[Korvu Path]\nPath=/a\n"s, ""},
        {"NUL in header", "[Korvu\0 Path]\nPath=/a\n"s, ""},
        {"NUL in unrelated line", "[Korvu Path]\nX=\0\nPath=/a\n"s, "/a"},
    });
}

// Our reader's own encoding rules; the system's are tested with the Windows platform layer.
#ifndef _WIN32
TEST_F(IniReaderTest, Encodings) {
    auto utf16 = [](const std::u16string& s, bool big_endian) {
        std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : s) {
            char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    // C:\ツール\k.exe, and the header in a second file written in Japanese.
    const std::u16string path16 = u"C:\\\u30C4\u30FC\u30EB\\k.exe";
    const std::string path8 = "C:\\\xE3\x83\x84\xE3\x83\xBC\xE3\x83\xAB\\k.exe";
    RunTable({
        {"UTF-8 BOM", "\xEF\xBB\xBF[Korvu Path]\r\nPath=" + path8 + "\r\n", path8},
        {"UTF-8 without BOM", "[Korvu Path]\nPath=" + path8 + "\n", path8},
        {"UTF-16LE BOM", utf16(u"[Korvu Path]\r\nPath=" + path16 + u"\r\n", false), path8},
        {"UTF-16BE BOM", utf16(u"[Korvu Path]\r\nPath=" + path16 + u"\r\n", true), path8},
        {"UTF-16 without BOM finds nothing", utf16(u"[Korvu Path]\r\nPath=/a\r\n", false).substr(2),
         ""},
        {"UTF-16 surrogate pair", utf16(u"[Korvu Path]\nPath=\U0001F600\n", false),
         "\xF0\x9F\x98\x80"},
        {"UTF-16 lone surrogate", utf16(u"[Korvu Path]\nPath=a\xD800z\n", false), "a\xEF\xBF\xBDz"},
        // CP932 trail bytes 5C and 5D must not be taken for `\` or `]`.
        {"CP932 trail 5C", "[Korvu Path]\r\nPath=C:\\\x95\x5C\\k.exe\r\n", "C:\\\x95\x5C\\k.exe"},
        {"CP932 trail 5C before quote", "[Korvu Path]\nPath=\"D:\\\x83\x5C\"\n", "D:\\\x83\x5C"},
        {"CP932 trail 5D after header", "[Korvu Path] \x83\x5D\nPath=/a\n", "/a"},
        {"CP932 lead byte before line end", "[Korvu Path]\nPath=/a\x82\nX=1\n", "/a\x82"},
    });

    // Names: a CP932 trail byte that is a letter must not match its other case, and a UTF-8
    // header whose last byte would be a CP932 lead byte must keep its `]`.
    EXPECT_EQ(Read(Write("[\x90\xDD\x92\xE8]\nX\x82\x61=cp932\n"), "\x90\xDD\x92\xE8", "X\x82\x61"),
              "cp932");
    EXPECT_EQ(Read(Write("[\x90\xDD\x92\xE8]\nX\x82\x61=cp932\n"), "\x90\xDD\x92\xE8", "X\x82\x41"),
              "");
    EXPECT_EQ(Read(Write("[\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88]\nKey=utf8\n"),
                   "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88", "key"),
              "utf8");
}

#endif  // _WIN32

TEST_F(IniReaderTest, LongValuesAreCutOnWholeCharacters) {
    auto entry = [](const std::string& v) { return "[Korvu Path]\r\nPath=" + v + "\r\n"; };
    RunTable({
        {"250 ASCII bytes", entry(std::string(250, 'x')), std::string(199, 'x')},
        {"exactly 199", entry(std::string(199, 'x')), std::string(199, 'x')},
        {"blanks trimmed before the cut", entry(std::string(199, 'x') + "   "),
         std::string(199, 'x')},
#ifdef _WIN32
        // The system's reader loses a character when exactly 199 stand between the quotes.
        {"199 inside quotes", entry("\"" + std::string(199, 'q') + "\""), std::string(198, 'q')},
#else
        {"199 inside quotes", entry("\"" + std::string(199, 'q') + "\""), std::string(199, 'q')},
#endif
        {"200 inside quotes", entry("\"" + std::string(200, 'q') + "\""), std::string(199, 'q')},
    });

#ifndef _WIN32
    const std::string a196(196, 'a'), a197(197, 'a'), a198(198, 'a');
    const std::string hira = "\xE3\x81\x82";       // 3 bytes in UTF-8
    const std::string emoji = "\xF0\x9F\x98\x80";  // 4 bytes in UTF-8
    const std::string hyo = "\x95\x5C";            // CP932, trail byte is `\`
    const std::string sjis_only = "X=\x82\xA0\n";  // makes the file invalid UTF-8
    RunTable({
        {"UTF-8 straddles by 1", entry(a197 + hira + "b"), a197},
        {"UTF-8 straddles by 2", entry(a198 + hira), a198},
        {"UTF-8 exact fit", entry(a196 + hira + "b"), a196 + hira},
        {"UTF-8 4-byte straddles", entry(a196 + emoji), a196},
        {"UTF-8 value in a CP932 file", sjis_only + entry(a197 + hira), a197},
        // Overlong and surrogate forms are not UTF-8, so the value is cut as CP932.
        {"overlong form is not UTF-8", entry(a197 + "\xE0\x80\xAF"), a197 + "\xE0\x80"},
        {"surrogate form is not UTF-8", entry(a197 + "\xED\xA0\x80"), a197 + "\xED\xA0"},
        {"CP932 pair straddles", entry(a198 + hyo + hyo), a198},
        {"CP932 exact fit", entry(a197 + hyo + hyo), a197 + hyo},
        {"CP932 lone lead at the cut", entry(a198 + "\x82" + " tail"), a198},
        {"CP932 trail-range lead bytes", entry("a" + std::string(200, '\x81')),
         "a" + std::string(198, '\x81')},
    });
#endif
}

TEST_F(IniReaderTest, MissingOrUnusableFiles) {
    EXPECT_EQ(Read(dir_.file("missing.ini")), "");
    EXPECT_EQ(Read(dir_.file("no") + testing::TempDir::kSep + "such" + testing::TempDir::kSep +
                   "dir" + testing::TempDir::kSep + "k.ini"),
              "");
    EXPECT_EQ(Read(dir_.str()), "");
    EXPECT_EQ(Read(""), "");
    EXPECT_EQ(Read(Write("")), "");
    EXPECT_EQ(Read(Write("\xEF\xBB\xBF")), "");
    EXPECT_EQ(Read(Write("\xFF\xFE")), "");

#ifndef _WIN32
    // Far too large for a settings file: not read at all rather than read in part. Sparse, so
    // it costs no disk.
    std::string huge = Write("[Korvu Path]\nPath=/a\n", "huge.ini");
    EXPECT_EQ(Read(huge), "/a");
    ASSERT_EQ(truncate(huge.c_str(), off_t{65} << 20), 0);
    EXPECT_EQ(Read(huge), "");

    // A FIFO must not block the start-up waiting for a writer.
    std::string fifo = dir_.file("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Read(fifo), "");
#endif
}

#ifndef _WIN32
TEST_F(IniReaderTest, UnreadableFileGivesDefault) {
    std::string locked = Write("[Korvu Path]\nPath=/a\n", "locked.ini");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(Read(locked), "");
        return;
    }
    // Root reads any file, so read as an ordinary user in a child.
    ASSERT_EQ(chmod(dir_.str().c_str(), 0755), 0);
    pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        char buf[200];
        _exit(ReadProfileString("Korvu Path", "Path", "", buf, sizeof buf, locked) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // And the same file once readable, so the child's answer is not down to something else.
    ASSERT_EQ(chmod(locked.c_str(), 0644), 0);
    EXPECT_EQ(Read(locked), "/a");
}

#endif  // _WIN32

TEST_F(IniReaderTest, BufferSizeAndDefault) {
    // A key without `=` gives the default; one with `=` and nothing after gives "".
    const std::string path = Write("[Korvu Path]\nPath=abcdef\nBare\nEmpty=\n");
    char buf[16];
    struct SizeCase {
        unsigned size;
        std::string def, section, key;
        unsigned want_ret;
        std::string want;
    };
    const std::vector<SizeCase> cases = {
        {16, "", "Korvu Path", "Path", 6, "abcdef"},
        {7, "", "Korvu Path", "Path", 6, "abcdef"},
        {6, "", "Korvu Path", "Path", 5, "abcde"},
        {1, "", "Korvu Path", "Path", 0, ""},
        {16, "dflt", "Korvu Path", "Nope", 4, "dflt"},
        {3, "dflt", "Nope", "Path", 2, "df"},
        {16, "d\0x"s, "Nope", "Path", 1, "d"},
        {16, "dflt", " korvu path\t", " PATH ", 6, "abcdef"},
        {16, "dflt", "", "Path", 4, "dflt"},
        {16, "dflt", "Korvu Path", " ", 4, "dflt"},
        {16, "dflt", "Korvu Path", "Bare", 4, "dflt"},
        {16, "dflt", "Korvu Path", "Empty", 0, ""},
        {16, "", "Korvu Path\0x"s, "Path\0y"s, 6, "abcdef"},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.size);
        SCOPED_TRACE(c.def + "|" + c.section + "|" + c.key);
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(ReadProfileString(c.section, c.key, c.def, buf, c.size, path), c.want_ret);
        EXPECT_EQ(std::string(buf, c.want_ret), c.want);
        EXPECT_EQ(buf[c.want_ret], '\0');
        // Nothing past the NUL is written.
        EXPECT_EQ(std::string(buf + c.want_ret + 1, sizeof buf - c.want_ret - 1),
                  std::string(sizeof buf - c.want_ret - 1, '#'));
    }

    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(ReadProfileString("Korvu Path", "Path", "dflt", buf, 0, path), 0u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(ReadProfileString("Korvu Path", "Path", "dflt", nullptr, 16, path), 0u);
}

}  // namespace
}  // namespace doredaviro
