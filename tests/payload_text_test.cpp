#include <gtest/gtest.h>

#include "format/payload_text.h"

namespace {

TEST(Text, Utf8AndUtf16RoundTrip)
{
    const std::u16string samples[] = {u"", u"abc", u"补丁成功", u"€ and 𝄞", u"a\r\nb"};
    for (const std::u16string& s : samples) EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf16ToUtf8(u"补丁"), "\xE8\xA1\xA5\xE4\xB8\x81");
    EXPECT_EQ(Utf16ToUtf8(u"𝄞"), "\xF0\x9D\x84\x9E");
}

TEST(Text, IllFormedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    const std::string bad[] = {"\xFF", "\xC0\x80", "\xE8\xA1", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    for (const std::string& s : bad) {
        const std::u16string out = Utf8ToUtf16(s);
        ASSERT_FALSE(out.empty()) << s;
        EXPECT_EQ(out[0], u'\uFFFD') << s;
    }
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
}

TEST(Text, AnsiMagicStopsAtNul)
{
    const char magic[16] = {'V', 'E', 'L', 'K', '-', 'P', 'A', 'T', 'C', 'H', '3', '.', '0', 0, 'x', 'y'};
    EXPECT_EQ(AnsiToUtf16(magic, 16), u"VELK-PATCH3.0");
    EXPECT_EQ(AnsiToUtf16("VELK-PATCH3.0abcdefgh", 16), u"VELK-PATCH3.0abc");
}

}  // namespace
