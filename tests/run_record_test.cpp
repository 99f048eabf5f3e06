#include <gtest/gtest.h>

#include <string>

#include "core/run_record.h"

namespace doredaviro {
namespace {

TEST(RunRecordTest, FieldsEscapeWhatBreaksALineAndComeBackExact) {
    struct Case {
        std::string bytes, escaped;
    };
    const Case cases[] = {
        {"/home/u/a b.txt", "/home/u/a b.txt"},
        {"/資料/R&D <x>.7z", "/資料/R&D <x>.7z"},  // valid UTF-8 reads as it is
        {"a\\tb", "a\\\\tb"},                      // a backslash is never read as an escape
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {std::string("\x01\x1f\x7f", 3) + std::string(1, '\0'), "\\x01\\x1F\\x7F\\x00"},
        {"/latin1-\xe9t\xe9", "/latin1-\\xE9t\\xE9"},  // not UTF-8: byte by byte
        {"\xe3\x81", "\\xE3\\x81"},                    // a sequence cut short
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},           // a surrogate is no UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(EscapeRecordField(c.bytes), c.escaped);
        std::string back;
        ASSERT_TRUE(UnescapeRecordField(c.escaped, back));
        EXPECT_EQ(back, c.bytes);
    }
    std::string ignored;
    for (const char* bad : {"a\\", "\\q", "\\x4", "\\xZZ", "a\tb"}) {
        EXPECT_FALSE(UnescapeRecordField(bad, ignored)) << bad;
    }
}

TEST(RunRecordTest, TimesAreUtcToTheMillisecond) {
    EXPECT_EQ(RecordTime(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(RecordTime(951782400999), "2000-02-29T00:00:00.999Z");
    EXPECT_EQ(RecordTime(4102444799001), "2099-12-31T23:59:59.001Z");
}

TEST(RunRecordTest, ARunKeepsABoundedShareOfWhatFailuresWrote) {
    std::vector<ArchiverRecord> many(300);
    for (ArchiverRecord& a : many) a.end.errorTail = std::string(kErrorTailBytes, 'e');
    many[0].end.succeeded = true;
    many[0].end.status = 0;
    const std::string text = FormatRunRecord(many);
    EXPECT_LE(text.size(), kRecordErrorBytes + kErrorTailBytes + 300 * 80);
    EXPECT_NE(text.find("\texit 0\t\t\n"), std::string::npos);  // a success keeps none
    EXPECT_NE(text.find("\tunknown\t"), std::string::npos);
}

TEST(RunRecordTest, MarkupIsEscaped) {
    EXPECT_EQ(EscapeMarkup("R&D <資料> \"a\" 'b'"),
              "R&amp;D &lt;資料&gt; &quot;a&quot; &#39;b&#39;");
}

}  // namespace
}  // namespace doredaviro
