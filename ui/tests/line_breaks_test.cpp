#include <gtest/gtest.h>

#include "ui/line_breaks.h"

namespace {

TEST(LineBreaks, EveryKindBecomesCrLf)
{
    struct Case {
        const char16_t* text;
        const char16_t* shown;
    } const cases[] = {
        {u"", u""},
        {u"one line", u"one line"},
        {u"a\nb", u"a\r\nb"},
        {u"a\r\nb", u"a\r\nb"},
        {u"a\rb", u"a\r\nb"},
        {u"a\n\nb", u"a\r\n\r\nb"},
        {u"a\r\n\r\nb", u"a\r\n\r\nb"},
        {u"a\n\rb", u"a\r\n\r\nb"},  // LF then CR: two breaks, not one reversed pair
        {u"\n汉化\r", u"\r\n汉化\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(WithWindowsLineBreaks(c.text), c.shown);
    }
}

}  // namespace
