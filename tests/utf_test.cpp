#include <gtest/gtest.h>

#include <string>

#include "core/utf.h"

namespace doredaviro {
namespace {

using utf::LoneSurrogate;

// Every user of the converter agrees on what a lone surrogate and a stray byte become.
TEST(UtfTest, LoneSurrogatesAreKeptOrReplacedAsAskedAndRoundTrip) {
    const std::u16string lone = u"a\xD800z\xDC00";
    EXPECT_EQ(utf::FromUtf16(lone, LoneSurrogate::Replace), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
    const std::string kept = utf::FromUtf16(lone, LoneSurrogate::Keep);
    EXPECT_EQ(kept, "a\xED\xA0\x80z\xED\xB0\x80");
    EXPECT_EQ(utf::ToUtf16(kept), lone);
    // Kept surrogates are not valid UTF-8 to anyone who checks.
    EXPECT_FALSE(utf::IsValid(kept));
    EXPECT_TRUE(utf::IsValid(utf::FromUtf16(lone, LoneSurrogate::Replace)));

    const std::u16string pair = u"\xD83D\xDE00";  // U+1F600
    for (LoneSurrogate mode : {LoneSurrogate::Keep, LoneSurrogate::Replace}) {
        EXPECT_EQ(utf::FromUtf16(pair, mode), "\xF0\x9F\x98\x80");
    }
    EXPECT_EQ(utf::ToUtf16("\xF0\x9F\x98\x80"), pair);
}

TEST(UtfTest, OnlyWellFormedSequencesDecode) {
    const char* const invalid[] = {"\xC0\xAF",         "\xE0\x80\xAF", "\xF4\x90\x80\x80",
                                   "\xF5\x80\x80\x80", "\xE6\x97",     "\x80",
                                   "\xED\xA0\x80"};
    for (const char* s : invalid) EXPECT_FALSE(utf::IsValid(s)) << s;
    EXPECT_TRUE(utf::IsValid("caf\xC3\xA9 \xE6\x97\xA5 \xF4\x8F\xBF\xBF"));
    EXPECT_TRUE(utf::IsValid(""));
    // One replacement character for each byte that is no UTF-8, nothing dropped.
    EXPECT_EQ(utf::ToUtf16("a\xFF"
                           "b\xC3"),
              u"a\uFFFDb\uFFFD");
    char32_t cp = 0;
    EXPECT_EQ(utf::Decode("\xE6\x97\xA5", 0, &cp), 3u);
    EXPECT_EQ(cp, U'\u65E5');
    EXPECT_EQ(utf::Decode("\xED\xA0\x80", 0, &cp), 0u);
    EXPECT_EQ(utf::Decode("\xED\xA0\x80", 0, &cp, true), 3u);
}

}  // namespace
}  // namespace doredaviro
