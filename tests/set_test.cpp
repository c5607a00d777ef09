// Sets of files applied on a real folder: every mix of kinds, members that fail their check, are
// missing or are done already, crafted directories refused before any file is touched, and a
// failure or a stop part-way that puts every file back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "apply/application.h"
#include "apply/messages.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;
using velk_set::Kind;
using Member = SetMember;
namespace fs = std::filesystem;

// A folder tree: each file's path ('/' between folders) and bytes; a folder is its path and '/'.
using Tree = std::map<std::string, std::vector<uint8_t>>;

std::string Utf8Of(const fs::path& path)
{
    const auto text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

void WriteTree(const NativeString& root, const Tree& tree)
{
    for (const auto& [path, bytes] : tree) {
        const fs::path at = fs::path(root) / fs::u8path(path);
        if (path.back() == '/') {
            fs::create_directories(at);
            continue;
        }
        fs::create_directories(at.parent_path());
        ASSERT_TRUE(WriteWholeFile(at.native(), bytes)) << path;
    }
}

Tree ReadTree(const NativeString& root)
{
    Tree tree;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(fs::path(root))) {
        const std::string path = Utf8Of(fs::relative(e.path(), fs::path(root)));
        if (e.is_directory() && !e.is_symlink())
            tree[path + "/"];
        else
            tree[path] = ReadWholeFile(e.path().native());
    }
    return tree;
}

// The members of the table's set, the folder before and after it.
struct Game {
    std::vector<uint8_t> a0 = PatternBytes(30000, 1), a1 = a0, b0 = PatternBytes(5000, 2), b1 = b0;
    std::vector<uint8_t> c1 = PatternBytes(700, 3), d0 = PatternBytes(900, 4);
    Game()
    {
        a1.resize(40000, 7);  // grows
        for (size_t i = 100; i < 200; ++i) b1[i] ^= 0x5A;
    }
    std::vector<Member> Members() const
    {
        return {{Kind::kModify, "a.bin", a0, a1},
                {Kind::kModify, "sub/b.bin", b0, b1},
                {Kind::kCreate, "new/deep/c.txt", {}, c1},
                {Kind::kDelete, "old.dat", d0, {}}};
    }
    Tree Before() const { return {{"a.bin", a0}, {"sub/", {}}, {"sub/b.bin", b0}, {"old.dat", d0}}; }
    Tree After() const
    {
        return {{"a.bin", a1}, {"sub/", {}}, {"sub/b.bin", b1}, {"new/", {}}, {"new/deep/", {}}, {"new/deep/c.txt", c1}};
    }
};

struct Applied {
    bool ok = false;
    RecordingOwner owner;
    Tree tree;
};

void Apply(const TempDir& dir, const std::vector<uint8_t>& set, const Tree& disk, Applied* r, bool answerOk = false,
           int stopAfterPolls = -1, const char* picked = "a.bin")
{
    const NativeString patch = dir.Path("set.velk"), root = dir.Path("game");
    ASSERT_TRUE(WriteWholeFile(patch, set));
    fs::remove_all(fs::path(root));
    fs::create_directory(fs::path(root));
    WriteTree(root, disk);
    r->owner = RecordingOwner(answerOk);
    r->owner.stopAfterPolls = stopAfterPolls;
    CVELK_IPS_IN applier(r->owner);
    r->ok = applier.ApplyPatch(patch.c_str(), (fs::path(root) / picked).native().c_str(), 0);
    r->tree = ReadTree(root);
}

struct SetCase {
    const char* name;
    void (*disk)(const Game&, Tree*);  // the folder before the application, from Before()
    bool answerOk;
    std::vector<std::u16string> messages, questions;
    bool patched;  // the folder ends as After(); otherwise as it began
    void (*result)(Tree*) = nullptr;  // what differs from After()
};

std::vector<SetCase> SetCases()
{
    const std::u16string b = u"sub/b.bin";
    return {
        {"every kind at once", [](const Game&, Tree*) {}, false, {kSuccess}, {}, true},
        {"some already done",
         [](const Game& g, Tree* t) { (*t)["a.bin"] = g.a1, (*t)["new/"], (*t)["new/deep/"], (*t)["new/deep/c.txt"] = g.c1; },
         false, {kSuccess}, {}, true},
        {"a file to delete is gone already", [](const Game&, Tree* t) { t->erase("old.dat"); }, false, {kSuccess}, {}, true},
        {"all done", [](const Game& g, Tree* t) { *t = g.After(); }, false, {kAlreadyPatched}, {}, true},
        {"one mismatching, declined", [](const Game&, Tree* t) { (*t)["sub/b.bin"][150] ^= 1; }, false, {},
         {kSetCrcQuestion + (u"\n" + b)}, false},
        // The records rewrite the byte that differs: the result is right after all.
        {"one mismatching, accepted", [](const Game&, Tree* t) { (*t)["sub/b.bin"][150] ^= 1; }, true, {kSuccess},
         {kSetCrcQuestion + (u"\n" + b)}, true},
        // As with a single file, a file the user lets through is patched as it is, unverified.
        {"one mismatching where nothing rewrites it, accepted", [](const Game&, Tree* t) { (*t)["sub/b.bin"][4000] ^= 1; },
         true, {kSuccess}, {kSetCrcQuestion + (u"\n" + b)}, true, [](Tree* t) { (*t)["sub/b.bin"][4000] ^= 1; }},
        {"a file to create is there, different", [](const Game&, Tree* t) { (*t)["new/"], (*t)["new/deep/"], (*t)["new/deep/c.txt"] = {1}; },
         false, {}, {kSetCrcQuestion + std::u16string(u"\nnew/deep/c.txt")}, false},
        {"a file to modify is missing", [](const Game&, Tree* t) { t->erase("sub/b.bin"); }, false,
         {kSetMissingFiles + (u"\n" + b)}, {}, false},
        {"an undo file beside a member", [](const Game&, Tree* t) { (*t)["sub/b.bin.velk-undo"] = {1, 2}; }, false,
         {kSetBlockedFiles + (u"\n" + b)}, {}, false},
        {"a folder where a member should be", [](const Game&, Tree* t) { (*t)["old.dat/"], t->erase("old.dat"); }, false,
         {kSetBlockedFiles + std::u16string(u"\nold.dat")}, {}, false},
    };
}

TEST(SetApplication, Cases)
{
    const Game game;
    const std::vector<uint8_t> set = MakeSetBytes(game.Members(), "a.bin");
    for (const SetCase& c : SetCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Tree disk = game.Before();
        c.disk(game, &disk);
        Applied r;
        Apply(dir, set, disk, &r, c.answerOk);
        EXPECT_EQ(r.owner.messages, c.messages) << Printable(r.owner.messages.empty() ? u"" : r.owner.messages[0]);
        EXPECT_EQ(r.owner.questions, c.questions);
        EXPECT_EQ(r.ok, c.patched);
        // Nothing else is left in the folder: no journal, no file moved aside, no folder made.
        Tree expected = c.patched ? game.After() : disk;
        if (c.result) c.result(&expected);
        EXPECT_TRUE(r.tree == expected);
    }
}

// The whole set's bytes make one progress: one total, never going back.
TEST(SetApplication, ProgressCountsTheWholeSet)
{
    const Game game;
    TempDir dir;
    Applied r;
    Apply(dir, MakeSetBytes(game.Members(), "a.bin"), game.Before(), &r);
    ASSERT_TRUE(r.ok);
    for (VelkProgressStage stage : {VelkProgressStage::kCrc, VelkProgressStage::kRecords}) {
        std::vector<ProgressReport> reports;
        for (const ProgressReport& p : r.owner.progress)
            if (p.stage == stage) reports.push_back(p);
        ASSERT_FALSE(reports.empty());
        for (size_t i = 1; i < reports.size(); ++i) {
            EXPECT_GE(reports[i].done, reports[i - 1].done);
            if (stage == VelkProgressStage::kRecords) EXPECT_EQ(reports[i].total, reports[0].total);
        }
        EXPECT_LE(reports.back().done, reports.back().total);
    }
}

// The file picked stands for its folder: a copy of the anchor picked by mistake is left alone,
// and the anchor beside it is patched; a file picked where the anchor is not names it.
TEST(SetApplication, PickedFileStandsForItsFolder)
{
    const Game game;
    const std::vector<uint8_t> set = MakeSetBytes(game.Members(), "a.bin");
    TempDir dir;
    Tree disk = game.Before();
    disk["copy of a.bin"] = game.a0;
    Applied r;
    Apply(dir, set, disk, &r, false, -1, "copy of a.bin");
    EXPECT_EQ(r.owner.messages, std::vector<std::u16string>{kSuccess});
    Tree expected = game.After();
    expected["copy of a.bin"] = game.a0;
    EXPECT_TRUE(r.tree == expected);

    Apply(dir, set, game.Before(), &r, false, -1, "sub/b.bin");
    EXPECT_EQ(r.owner.messages, std::vector<std::u16string>{kSetMissingFiles + std::u16string(u"\na.bin")});
    EXPECT_TRUE(r.tree == game.Before());
}

// A set keeps no journal for undo: taking one back changes nothing, and says so.
TEST(SetApplication, UndoOfASetAppliesNothing)
{
    const Game game;
    TempDir dir;
    const NativeString patch = dir.Path("set.velk"), root = dir.Path("game");
    ASSERT_TRUE(WriteWholeFile(patch, MakeSetBytes(game.Members(), "a.bin")));
    WriteTree(root, game.Before());
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    EXPECT_FALSE(applier.UndoPatch(patch.c_str(), (fs::path(root) / "a.bin").native().c_str(), 0));
    EXPECT_EQ(owner.messages, std::vector<std::u16string>{kNoKeptUndo});
    EXPECT_TRUE(ReadTree(root) == game.Before());
}

// A stop at any moment: silent, and the folder as it was; or too late, and the set is applied.
TEST(SetApplication, StopAtEveryPoll)
{
    const Game game;
    const std::vector<uint8_t> set = MakeSetBytes(game.Members(), "a.bin");
    TempDir dir;
    int polls = 0;
    for (;; ++polls) {
        SCOPED_TRACE(polls);
        Applied r;
        Apply(dir, set, game.Before(), &r, false, polls);
        if (r.ok) {
            EXPECT_TRUE(r.tree == game.After());
            break;
        }
        EXPECT_TRUE(r.owner.messages.empty());
        ASSERT_TRUE(r.tree == game.Before());
    }
    EXPECT_GT(polls, 4);
}

// More files than one question names: ten, then how many there are.
TEST(SetApplication, QuestionNamesTenFiles)
{
    std::vector<Member> members;
    Tree disk;
    std::u16string question = kSetCrcQuestion;
    for (int i = 0; i < 12; ++i) {
        const std::string path = "f" + std::to_string(10 + i) + ".bin";
        members.push_back({Kind::kModify, path, PatternBytes(100, i), PatternBytes(100, i + 50)});
        disk[path] = PatternBytes(101, i);
        if (i < 10) question += u"\n" + std::u16string(path.begin(), path.end());
    }
    question += u"\n等12个文件";
    TempDir dir;
    const NativeString patch = dir.Path("set.velk");
    ASSERT_TRUE(WriteWholeFile(patch, MakeSetBytes(members, "f10.bin")));
    WriteTree(dir.Root(), disk);
    RecordingOwner owner(false);
    CVELK_IPS_IN applier(owner);
    EXPECT_FALSE(applier.ApplyPatch(patch.c_str(), dir.Path("f10.bin").c_str(), 0));
    EXPECT_EQ(owner.questions, std::vector<std::u16string>{question});
}

// A crafted directory is refused whole, before any file is touched: each row adds one entry, or
// one order, that no sound set has.
TEST(SetApplication, CraftedPathsAreRefusedWhole)
{
    const Game game;
    const struct {
        const char* path;
        bool asGiven = false;
    } rows[] = {{"../x"}, {"/abs"}, {"sub/../../x"}, {"c:x"}, {"a:stream"}, {"sub//x"}, {"./x"}, {"sub/./x"}, {""},
                {"CON"}, {"nul.txt"}, {"sub/com1"}, {"Lpt9.dat"}, {"sub\\x"}, {"x."}, {"x "}, {"sub./x"},
                {"x\x01y"}, {"\xff\xfe"}, {"A.BIN"}, {"SUB/B.BIN"}, {"a.bin/x"}, {"old.dat/x"},
                {"zz", true}};  // out of order
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        std::vector<Member> members = game.Members();
        members.push_back({Kind::kCreate, row.path, {}, {9}});
        TempDir dir;
        Applied r;
        Apply(dir, MakeSetBytes(members, "a.bin", row.asGiven), game.Before(), &r, true);
        EXPECT_EQ(r.owner.messages, std::vector<std::u16string>{kSetDamaged});
        EXPECT_TRUE(r.owner.questions.empty());
        EXPECT_TRUE(r.tree == game.Before());
    }
}

// The set drawn in docs/format.md, byte for byte.
TEST(SetFormat, DocumentedExample)
{
    const char* documented =
        "56 45 4C 4B 2D 53 45 54 31 00 00 00 00 00 00 00"
        "02 00 00 00 00 00 00 00 92 00 00 00 00 00 00 00"
        "6A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        "08 8A 7A 7D 00 00 00 00 00 00 00 00 7A 3B 6A 76"
        "56 45 4C 4B 2D 50 41 54 43 48 33 2E 30 00 00 00"
        "10 00 00 00 00 00 00 00 55 4B BB EC 48 00 00 00"
        "00 00 00 00 00 00 00 00 56 45 4C 4B 45 58 54 31"
        "20 00 00 00 57 D9 7F 89 10 00 00 00 00 00 00 00"
        "00 00 00 00 8D 63 12 FF 01 05 00 00 00 02 00 AA"
        "BB FF 35 00 00 00 01 00 05 00 10 00 00 00 00 00"
        "00 00 55 4B BB EC 57 D9 7F 89 10 00 00 00 00 00"
        "00 00 40 00 00 00 00 00 00 00 52 00 00 00 00 00"
        "00 00 61 2E 62 69 6E 35 00 00 00 03 00 05 00 04"
        "00 00 00 00 00 00 00 B7 C5 14 13 00 00 00 00 00"
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        "00 00 00 00 00 00 00 62 2E 74 78 74";
    std::vector<uint8_t> expected;
    for (const char* c = documented; *c != 0; c += c[2] == ' ' ? 3 : 2)
        expected.push_back(static_cast<uint8_t>(std::stoi(std::string(c, 2), nullptr, 16)));
    std::vector<uint8_t> modified(16, 0);
    modified[5] = 0xAA, modified[6] = 0xBB;
    EXPECT_EQ(MakeSetBytes({{Kind::kModify, "a.bin", std::vector<uint8_t>(16, 0), modified},
                            {Kind::kDelete, "b.txt", {'b', 'y', 'e', '\n'}, {}}},
                           "a.bin", false, u""),
              expected);
}

#ifndef _WIN32
// A folder of the set that is a link may lead out of the folder the user picked: refused.
TEST(SetApplication, FolderThroughALinkIsRefused)
{
    const Game game;
    TempDir dir;
    const NativeString outside = dir.Path("elsewhere");
    WriteTree(outside, {{"b.bin", game.b0}});
    Tree disk = game.Before();
    disk.erase("sub/");
    disk.erase("sub/b.bin");
    Applied r;
    const NativeString root = dir.Path("game");
    fs::create_directories(fs::path(root));
    fs::create_directory_symlink(fs::path(outside), fs::path(root) / "sub");
    const NativeString patch = dir.Path("set.velk");
    ASSERT_TRUE(WriteWholeFile(patch, MakeSetBytes(game.Members(), "a.bin")));
    WriteTree(root, disk);
    CVELK_IPS_IN applier(r.owner);
    EXPECT_FALSE(applier.ApplyPatch(patch.c_str(), (fs::path(root) / "a.bin").c_str(), 0));
    EXPECT_EQ(r.owner.messages, std::vector<std::u16string>{kSetBlockedFiles + std::u16string(u"\nsub/b.bin")});
    EXPECT_TRUE(ReadWholeFile(outside + "/b.bin") == game.b0);
    EXPECT_TRUE(ReadWholeFile((fs::path(root) / "a.bin").native()) == game.a0);
}
#endif

}  // namespace
