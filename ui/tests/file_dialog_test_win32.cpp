// The chooser's record and its remembering rule, with the platform dialog replaced by a script
// of answers: what the platform is asked on each run, and what the chooser keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/file_dialog_win32.h"

namespace {

// What one run of the stand-in platform dialog saw, and what it answers.
struct Seen {
    OPENFILENAMEW record;
    std::wstring file;
    std::wstring initialDir;
    std::wstring filter;  // NULs shown as '|'
};

struct Answer {
    BOOL confirm;
    const wchar_t* path;   // written into the file buffer when confirmed
    const wchar_t* title;  // written into the file title buffer when confirmed
};

std::vector<Answer> g_answers;
std::vector<Seen> g_seen;

std::wstring FilterList(const wchar_t* filter)
{
    // The list ends at the first empty string.
    std::wstring out;
    for (const wchar_t* p = filter; *p != 0; p += wcslen(p) + 1) out += std::wstring(p) + L"|";
    return out + L"|";
}

BOOL WINAPI StandIn(OPENFILENAMEW* record)
{
    Seen seen{*record, record->lpstrFile, record->lpstrInitialDir ? record->lpstrInitialDir : L"<null>",
              FilterList(record->lpstrFilter)};
    g_seen.push_back(seen);
    const Answer answer = g_answers.at(g_seen.size() - 1);
    if (answer.confirm) {
        wcsncpy(record->lpstrFile, answer.path, record->nMaxFile);
        wcsncpy(record->lpstrFileTitle, answer.title, record->nMaxFileTitle);
    }
    return answer.confirm;
}

class Chooser : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_answers.clear();
        g_seen.clear();
    }
};

std::wstring Wide(const WideString& text)
{
    return std::wstring(WidePtr(text));
}

TEST_F(Chooser, FirstRunAsksForAnyFileWithNoStartFolder)
{
    g_answers = {{FALSE, nullptr, nullptr}};
    CVELKFileDialog_Open chooser(L"要打补丁的文件|*.*||", nullptr, StandIn);
    EXPECT_EQ(Wide(chooser.GetSelectedPath()), L"");  // before any run
    EXPECT_EQ(chooser.Run(), IDCANCEL);

    ASSERT_EQ(g_seen.size(), 1u);
    const OPENFILENAMEW& r = g_seen[0].record;
#ifdef _WIN64
    EXPECT_EQ(r.lStructSize, 152u);
#else
    EXPECT_EQ(r.lStructSize, 88u);
#endif
    EXPECT_EQ(r.Flags, 0x80006u);  // OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT
    EXPECT_EQ(r.hwndOwner, nullptr);
    EXPECT_EQ(r.lpstrTitle, nullptr);
    EXPECT_EQ(r.nFilterIndex, 0u);
    EXPECT_EQ(r.nMaxFile, 260u);
    EXPECT_EQ(r.nMaxFileTitle, 64u);
    EXPECT_EQ(r.lpstrDefExt, nullptr);
    EXPECT_EQ(g_seen[0].filter, L"要打补丁的文件|*.*||");
    EXPECT_EQ(g_seen[0].initialDir, L"<null>");
    EXPECT_EQ(g_seen[0].file, L"");
}

TEST_F(Chooser, NextRunOpensInTheLastConfirmedFolderWithItsName)
{
    g_answers = {
        {TRUE, L"D:\\images\\game.iso", L"game.iso"},
        {FALSE, nullptr, nullptr},  // a cancel keeps what the last confirmed run set
        {TRUE, L"C:\\root.bin", L"root.bin"},
        {FALSE, nullptr, nullptr},
    };
    CVELKFileDialog_Open chooser(L"要打补丁的文件|*.*||", nullptr, StandIn);
    ASSERT_EQ(chooser.Run(), IDOK);
    EXPECT_EQ(Wide(chooser.GetSelectedPath()), L"D:\\images\\game.iso");
    EXPECT_EQ(chooser.Run(), IDCANCEL);
    ASSERT_EQ(chooser.Run(), IDOK);
    EXPECT_EQ(Wide(chooser.GetSelectedPath()), L"C:\\root.bin");
    EXPECT_EQ(chooser.Run(), IDCANCEL);

    ASSERT_EQ(g_seen.size(), 4u);
    EXPECT_EQ(g_seen[1].initialDir, L"D:\\images");
    EXPECT_EQ(g_seen[1].file, L"game.iso");
    EXPECT_EQ(g_seen[2].initialDir, L"D:\\images");
    EXPECT_EQ(g_seen[2].file, L"game.iso");
    // A drive root keeps its backslash.
    EXPECT_EQ(g_seen[3].initialDir, L"C:\\");
    EXPECT_EQ(g_seen[3].file, L"root.bin");
}

// A name longer than the file title buffer (64 units) comes back whole: the platform cuts the
// title, never the full path, and a cut name would open, or patch, another file.
TEST_F(Chooser, LongNameComesBackWhole)
{
    const wchar_t* name = L"Legend of Zelda, The - Ocarina of Time - Master Quest (USA) (GameCube Edition).z64";
    const std::wstring path = std::wstring(L"D:\\roms\\") + name;
    g_answers = {{TRUE, path.c_str(), name}, {FALSE, nullptr, nullptr}};
    CVELKFileDialog_Open chooser(L"要打补丁的文件|*.*||", nullptr, StandIn);
    ASSERT_EQ(chooser.Run(), IDOK);
    EXPECT_EQ(Wide(chooser.GetSelectedPath()), path);
    EXPECT_EQ(chooser.Run(), IDCANCEL);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[1].file, name);
    EXPECT_EQ(g_seen[1].initialDir, L"D:\\roms");
}

TEST_F(Chooser, OneRunKeepsItsSelection)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* title;
        const wchar_t* folder;
    } const cases[] = {
        {L"D:\\images\\game.iso", L"game.iso", L"D:\\images"},
        {L"C:\\game.iso", L"game.iso", L"C:\\"},
        {L"\\\\server\\share\\disc\\image.bin", L"image.bin", L"\\\\server\\share\\disc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        g_seen.clear();
        g_answers = {{TRUE, c.path, c.title}};
        CVELKFileDialog dialog(nullptr, OFN_HIDEREADONLY, L"a|*.a|b|*.b||", StandIn);
        ASSERT_EQ(dialog.Run(), IDOK);
        EXPECT_EQ(Wide(dialog.GetSelectedPath()), c.path);
        EXPECT_EQ(Wide(dialog.GetSelectedFileTitle()), c.title);
        EXPECT_EQ(Wide(dialog.GetSelectedFolder()), c.folder);
        EXPECT_EQ(g_seen[0].filter, L"a|*.a|b|*.b||");
        EXPECT_EQ(g_seen[0].record.Flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_EXPLORER));
    }
}

TEST_F(Chooser, CancelledRunLeavesTheFolderEmpty)
{
    g_answers = {{FALSE, nullptr, nullptr}};
    CVELKFileDialog dialog(L"name.bin", 0, L"||", StandIn);
    EXPECT_EQ(dialog.Run(), IDCANCEL);
    EXPECT_EQ(Wide(dialog.GetSelectedFolder()), L"");
    EXPECT_EQ(g_seen[0].file, L"name.bin");
}

TEST_F(Chooser, OverlongInitialNameIsCutTo259Units)
{
    const std::wstring name(300, L'n');
    CVELKFileDialog dialog(name.c_str(), 0, L"||", StandIn);
    EXPECT_EQ(std::wstring(dialog.Record().lpstrFile), name.substr(0, 259));
}

}  // namespace
