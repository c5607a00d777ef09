#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/description.h"
#include "cli/terminal_owner.h"
#include "support/test_support.h"

namespace {

using namespace velk_cli;

std::vector<NativeString> Args(std::initializer_list<const char*> words)
{
    std::vector<NativeString> args;
    for (const char* word : words) args.push_back(Native(word));
    return args;
}

TEST(Arguments, CreateWithEveryOption)
{
    CommandLine command;
    std::string error;
    ASSERT_TRUE(ParseArguments(Args({"create", "a.iso", "--no-crc", "b.iso", "--output=out.exe", "--description",
                                     "notes.txt", "--stub", "s.exe"}),
                               &command, &error))
        << error;
    EXPECT_EQ(command.kind, CommandKind::kCreate);
    EXPECT_EQ(command.original, Native("a.iso"));
    EXPECT_EQ(command.modified, Native("b.iso"));
    EXPECT_EQ(command.output, Native("out.exe"));
    EXPECT_EQ(command.description, Native("notes.txt"));
    EXPECT_EQ(command.stub, Native("s.exe"));
    EXPECT_TRUE(command.noCrc && command.hasStub && command.hasDescription && !command.payloadOnly);

    // After "--" everything is a file name, even what looks like an option.
    ASSERT_TRUE(ParseArguments(Args({"create", "-o", "p.bin", "--payload-only", "--", "-a", "--b"}), &command, &error));
    EXPECT_EQ(command.original, Native("-a"));
    EXPECT_EQ(command.modified, Native("--b"));
    EXPECT_TRUE(command.payloadOnly);
}

TEST(Arguments, ApplyAnswersAndHelp)
{
    CommandLine command;
    std::string error;
    ASSERT_TRUE(ParseArguments(Args({"apply", "p.exe", "t.iso", "-y"}), &command, &error));
    EXPECT_EQ(command.answer, CrcAnswer::kYes);
    ASSERT_TRUE(ParseArguments(Args({"apply", "--no", "p.exe", "t.iso"}), &command, &error));
    EXPECT_EQ(command.answer, CrcAnswer::kNo);
    EXPECT_EQ(command.patch, Native("p.exe"));
    ASSERT_TRUE(ParseArguments(Args({"apply", "p.exe", "t.iso"}), &command, &error));
    EXPECT_EQ(command.answer, CrcAnswer::kAsk);
    ASSERT_TRUE(ParseArguments(Args({"info", "--help"}), &command, &error));
    EXPECT_EQ(command.kind, CommandKind::kHelp);
    EXPECT_EQ(command.helpTopic, "info");
    ASSERT_TRUE(ParseArguments(Args({"check", "p.exe", "t.iso"}), &command, &error));
    EXPECT_EQ(command.kind, CommandKind::kCheck);
    EXPECT_EQ(command.target, Native("t.iso"));
    ASSERT_TRUE(ParseArguments(Args({"--version"}), &command, &error));
    EXPECT_EQ(command.kind, CommandKind::kVersion);
}

TEST(Arguments, MalformedCommandLines)
{
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"patch"},
        {"create", "a", "b"},
        {"create", "a", "-o", "c"},
        {"create", "a", "b", "c", "-o", "d"},
        {"create", "a", "b", "-o"},
        {"create", "a", "b", "-o", ""},
        {"create", "a", "b", "-o", "c", "--output", "d"},
        {"create", "a", "b", "-o", "c", "--stub", "s", "--payload-only"},
        {"create", "a", "b", "-o", "c", "--no-crc=1"},
        {"create", "a", "b", "-o", "c", "--yes"},
        {"info"},
        {"info", "a", "b"},
        {"info", "a", "--yes"},
        {"apply", "a"},
        {"apply", "a", "b", "--yes", "--no"},
        {"apply", "a", "b", "-o", "c"},
        {"check", "a"},
        {"check", "a", "b", "c"},
        {"check", "a", "b", "--yes"},
    };
    for (const auto& words : bad) {
        std::vector<NativeString> args;
        std::string joined;
        for (const char* word : words) {
            args.push_back(Native(word));
            joined += std::string(word) + " ";
        }
        CommandLine command;
        std::string error;
        EXPECT_FALSE(ParseArguments(args, &command, &error)) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

struct DescriptionCase {
    const char* name;
    std::string utf8;
    DescriptionStatus status;
    std::u16string text;
    size_t badByte;
};

TEST(Description, ConvertsUtf8AndLineEnds)
{
    const DescriptionCase cases[] = {
        {"empty", "", DescriptionStatus::kOk, u"", 0},
        {"LF", "a\nb\n", DescriptionStatus::kOk, u"a\r\nb\r\n", 0},
        {"CR LF kept", "a\r\nb", DescriptionStatus::kOk, u"a\r\nb", 0},
        {"lone CR", "a\rb\r", DescriptionStatus::kOk, u"a\r\nb\r\n", 0},
        {"LF CR is two line ends", "a\n\rb", DescriptionStatus::kOk, u"a\r\n\r\nb", 0},
        {"byte-order mark dropped", "\xEF\xBB\xBFok", DescriptionStatus::kOk, u"ok", 0},
        {"Chinese", "补丁说明", DescriptionStatus::kOk, u"补丁说明", 0},
        {"outside the BMP", "\xF0\x9F\x98\x80", DescriptionStatus::kOk, u"\U0001F600", 0},
        {"stray continuation", "ab\x80", DescriptionStatus::kNotUtf8, u"", 2},
        {"overlong slash", "\xC0\xAF", DescriptionStatus::kNotUtf8, u"", 0},
        {"surrogate", "x\xED\xA0\x80", DescriptionStatus::kNotUtf8, u"", 1},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", DescriptionStatus::kNotUtf8, u"", 0},
        {"truncated", "abc\xE6\xB1", DescriptionStatus::kNotUtf8, u"", 3},
        {"Latin-1", "caf\xE9", DescriptionStatus::kNotUtf8, u"", 3},
        {"NUL", std::string("a\0b", 3), DescriptionStatus::kContainsNul, u"", 1},
    };
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const DescriptionResult result = ConvertDescription(c.utf8);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.text, c.text);
        if (c.status != DescriptionStatus::kOk) EXPECT_EQ(result.badByte, c.badByte);
    }
}

TEST(Description, LengthLimitCountsUtf16UnitsAfterConversion)
{
    EXPECT_EQ(ConvertDescription(std::string(32767, 'a')).status, DescriptionStatus::kOk);
    EXPECT_EQ(ConvertDescription(std::string(32768, 'a')).status, DescriptionStatus::kTooLong);
    // A line end costs two units once converted.
    EXPECT_EQ(ConvertDescription(std::string(32766, 'a') + "\n").status, DescriptionStatus::kTooLong);
    EXPECT_EQ(ConvertDescription(std::string(32765, 'a') + "\n").status, DescriptionStatus::kOk);
    // A character outside the BMP costs two units.
    std::string wide;
    for (int i = 0; i < 16384; ++i) wide += "\xF0\x9F\x98\x80";
    const DescriptionResult result = ConvertDescription(wide);
    EXPECT_EQ(result.status, DescriptionStatus::kTooLong);
    EXPECT_EQ(result.units, 32768u);
}

TEST(TerminalText, LineEndsAndUtf8)
{
    EXPECT_EQ(TerminalText(u"补丁版本: X\r\n目标"), "补丁版本: X\n目标");
    EXPECT_EQ(TerminalText(u"打补丁失败\n补丁文件已损坏(5)"), "打补丁失败\n补丁文件已损坏(5)");
    EXPECT_EQ(TerminalText(u"a\rb"), "a\rb");
}

TEST(StubCandidates, BesideTheProgramThenTheSharedFolder)
{
    const std::vector<NativeString> candidates = StubCandidates(Native("/opt/velk/bin"));
    ASSERT_EQ(candidates.size(), 2u);
#ifdef _WIN32
    EXPECT_EQ(candidates[0], Native("/opt/velk/bin\\velkstub.exe"));
    EXPECT_EQ(candidates[1], Native("/opt/velk/bin\\..\\share\\velkpatch\\velkstub.exe"));
#else
    EXPECT_EQ(candidates[0], Native("/opt/velk/bin/velkstub.exe"));
    EXPECT_EQ(candidates[1], Native("/opt/velk/bin/../share/velkpatch/velkstub.exe"));
#endif
    EXPECT_TRUE(StubCandidates(NativeString()).empty());
}

}  // namespace
