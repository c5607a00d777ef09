#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/description.h"
#include "cli/pending_output.h"
#include "cli/platform.h"
#include "cli/terminal_escape.h"
#include "cli/terminal_owner.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

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
    EXPECT_EQ(command.stubArchitecture, StubArchitecture::kX64);
    ASSERT_TRUE(ParseArguments(Args({"create", "a.iso", "b.iso", "-o", "out.exe", "--x86"}), &command, &error)) << error;
    EXPECT_EQ(command.stubArchitecture, StubArchitecture::kX86);

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
        {"create", "a", "b", "-o", "c", "--x86", "--stub", "s"},
        {"create", "a", "b", "-o", "c", "--payload-only", "--x86"},
        {"create", "a", "b", "-o", "c", "--x86=1"},
        {"apply", "a", "b", "--x86"},
        {"create", "a", "b", "-o", "c", "--no-crc=1"},
        {"create", "a", "b", "-o", "c", "--stub", ""},
        {"create", "a", "b", "-o", "c", "--stub="},
        {"create", "a", "b", "-o", "c", "--description", ""},
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

TEST(EscapeControls, ShowsWhatTheTerminalWouldObey)
{
    const std::pair<std::string, std::string> cases[] = {
        {"line\n\tindented", "line\n\tindented"},
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
        {"done\rfake", "done\\x0Dfake"},
        {"del\x7f", "del\\x7F"},
        {"csi \xc2\x9b" "2J, nbsp \xc2\xa0", "csi \\u009B2J, nbsp \xc2\xa0"},
        {"补丁成功", "补丁成功"},
        {"bad \xff\xc2", "bad \xff\xc2"},  // not UTF-8: kept as it is
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeControls(c.first), c.second) << c.first;
}

TEST(PendingOutput, TemporaryNameFitsWhereOutputFits)
{
    const std::string suffix = ".velktmp-" + std::to_string(ProcessId()) + "-7";
    EXPECT_EQ(PendingOutput::TemporaryName(Native("patch.exe"), 7, 255), Native("patch.exe" + suffix));
    const NativeString longest(255, static_cast<NativeChar>('n'));
    const NativeString cut = PendingOutput::TemporaryName(longest, 7, 255);
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut, longest.substr(0, 255 - suffix.size()) + Native(suffix));
    // A name is cut between characters, never inside one (three UTF-8 bytes, one UTF-16 unit).
    NativeString chinese;
    for (int i = 0; i < 85; ++i) chinese += Native("补");
    const NativeString shortened = PendingOutput::TemporaryName(chinese, 7, chinese.size());
    EXPECT_LE(shortened.size(), chinese.size());
    const NativeString kept = shortened.substr(0, shortened.size() - suffix.size());
    EXPECT_EQ(kept, chinese.substr(0, kept.size()));
    EXPECT_EQ(kept.size() % Native("补").size(), 0u);
}

TEST(PendingOutput, ReplacesOutputOnlyWhenCommitted)
{
    TempDir dir;
    const NativeString output = dir.Path("patch.exe");
    ASSERT_TRUE(WriteWholeFile(output, {'o', 'l', 'd'}));
    {
        PendingOutput pending(output);
        ASSERT_TRUE(pending.Create(true));
        ASSERT_EQ(pending.File().Write("new", 3), 3u);
        ASSERT_TRUE(pending.Flush());
        EXPECT_EQ(ReadWholeFile(output), (std::vector<uint8_t>{'o', 'l', 'd'}));
        ASSERT_TRUE(pending.Commit());
    }
    EXPECT_EQ(ReadWholeFile(output), (std::vector<uint8_t>{'n', 'e', 'w'}));
    {
        PendingOutput abandoned(output);
        ASSERT_TRUE(abandoned.Create(false));
        ASSERT_EQ(abandoned.File().Write("lost", 4), 4u);
    }
    EXPECT_EQ(ReadWholeFile(output), (std::vector<uint8_t>{'n', 'e', 'w'}));
    // Nothing but OUTPUT is left in the folder.
    PendingOutput failing(dir.Path("missing-folder/patch.exe"));
    EXPECT_FALSE(failing.Create(false));
    EXPECT_FALSE(::FileExists(dir.Path("missing-folder")));
}

TEST(KindOfFile, OnlyADiskFileIsRegular)
{
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.Path("file"), {1}));
    EXPECT_EQ(KindOfFile(dir.Path("file")), FileKind::kRegular);
    EXPECT_EQ(KindOfFile(dir.Root()), FileKind::kOther);
    EXPECT_EQ(KindOfFile(dir.Path("missing")), FileKind::kMissing);
    EXPECT_EQ(KindOfFile(dir.Path("missing/file")), FileKind::kMissing);
#ifdef _WIN32
    EXPECT_EQ(KindOfFile(L"NUL"), FileKind::kOther);
#else
    EXPECT_EQ(KindOfFile("/dev/null"), FileKind::kOther);
#endif
}

#ifdef _WIN32
// A file that cannot be opened, not even to ask for its identity, may well be the other file.
// Under Wine a write-only file of Linux's /proc refuses that open with access denied.
TEST(SameFile, AFileThatCannotBeExaminedIsUnknown)
{
    const NativeString unreadable = L"Z:\\proc\\sys\\vm\\drop_caches";
    if (GetFileAttributesW(unreadable.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_ACCESS_DENIED)
        GTEST_SKIP() << "no file here refuses to be examined";
    TempDir dir;
    const NativeString other = dir.Path("other");
    ASSERT_TRUE(WriteWholeFile(other, {1}));
    EXPECT_EQ(SameFile(unreadable, other), Sameness::kUnknown);
    EXPECT_EQ(SameFile(other, unreadable), Sameness::kUnknown);
    EXPECT_EQ(KindOfFile(unreadable), FileKind::kUnknown);
    EXPECT_EQ(SameFile(dir.Path("missing"), other), Sameness::kDifferent);
    EXPECT_EQ(SameFile(other, dir.Path("missing\\file")), Sameness::kDifferent);
}

DWORD WINAPI DeliverClose(void*)
{
    return OnConsoleEvent(CTRL_CLOSE_EVENT);
}

// Ctrl+C only asks the work to stop. Closing the console ends the process as soon as the
// handler returns, so the handler returns only once the main thread has cleaned up.
TEST(ConsoleEvents, CloseWaitsUntilTheCleanupIsDone)
{
    CatchInterrupts();
    EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
    EXPECT_TRUE(Interrupted());
    const HANDLE handler = CreateThread(nullptr, 0, DeliverClose, nullptr, 0, nullptr);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(WaitForSingleObject(handler, 500), static_cast<DWORD>(WAIT_TIMEOUT));
    CleanupDone();
    EXPECT_EQ(WaitForSingleObject(handler, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(handler);
}
#endif

TEST(StubCandidates, BesideTheProgramThenTheSharedFolder)
{
    const std::pair<StubArchitecture, std::string> patchers[] = {
        {StubArchitecture::kX64, "velkstub.exe"},
        {StubArchitecture::kX86, "velkstub-x86.exe"},
    };
    for (const auto& [architecture, name] : patchers) {
        const std::vector<NativeString> candidates = StubCandidates(Native("/opt/velk/bin"), architecture);
        ASSERT_EQ(candidates.size(), 2u);
#ifdef _WIN32
        EXPECT_EQ(candidates[0], Native("/opt/velk/bin\\" + name));
        EXPECT_EQ(candidates[1], Native("/opt/velk/bin\\..\\share\\velkpatch\\" + name));
#else
        EXPECT_EQ(candidates[0], Native("/opt/velk/bin/" + name));
        EXPECT_EQ(candidates[1], Native("/opt/velk/bin/../share/velkpatch/" + name));
#endif
    }
    EXPECT_EQ(StubCandidates(Native("/opt/velk/bin")), StubCandidates(Native("/opt/velk/bin"), StubArchitecture::kX64));
    EXPECT_TRUE(StubCandidates(NativeString()).empty());
}

}  // namespace
