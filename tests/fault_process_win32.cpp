// Other Windows processes, started beside this test program: velk_file_holder holds a target
// open (whether patching may go on depends on what it does with the file and what it lets
// others do), and velk_apply_child applies a patch until TerminateProcess ends it.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "apply/application.h"
#include "apply/messages.h"
#include "file/velk_file.h"
#include "maker/payload_writer.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;
namespace fs = std::filesystem;

fs::path Beside(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(std::wstring(self, n)).parent_path() / name;
}

// Runs the holder and waits until it has tried its open. Closing the handle does not end it;
// creating the release file does.
class Holder {
public:
    Holder(const std::wstring& target, int mode, int share, const TempDir& dir)
        : m_ready(dir.Path("ready")), m_release(dir.Path("release"))
    {
        std::wstring command = L"\"" + Beside(L"velk_file_holder.exe").wstring() + L"\" \"" + target + L"\" " +
                               std::to_wstring(mode) + L" " + std::to_wstring(share) + L" \"" + m_ready +
                               L"\" \"" + m_release + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_process))
            return;
        CloseHandle(m_process.hThread);
        // Under Wine the ready file can be seen a moment before it can be opened (the rename that
        // puts it in place still holds it): it is read until it answers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        char c = 0;
        while (c != '0' && c != '1' && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::ifstream in{fs::path(m_ready)};
            in >> c;
        }
        m_opened = c == '1';
    }
    ~Holder()
    {
        if (!m_process.hProcess) return;
        std::ofstream{fs::path(m_release)} << "go";
        WaitForSingleObject(m_process.hProcess, 60000);
        CloseHandle(m_process.hProcess);
        fs::remove(fs::path(m_ready));
        fs::remove(fs::path(m_release));
    }
    bool Opened() const { return m_opened; }

private:
    std::wstring m_ready, m_release;
    PROCESS_INFORMATION m_process = {};
    bool m_opened = false;
};

std::vector<std::u16string> ApplyFiles(const NativeString& source, const NativeString& target)
{
    RecordingOwner owner(true);
    CVELK_IPS_IN applier(owner);
    applier.ApplyPatch(source.c_str(), target.c_str(), 0);
    return owner.messages;
}

TEST(OtherProcess, TargetHeldOpenByAnotherProcess)
{
    struct Case {
        const char* what;
        int mode, share;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"reads and writes, shares both", kModeReadWriteExisting, kShareReadWrite, kTargetOpenFailed},
        {"writes only, shares both", kModeWriteExisting, kShareReadWrite, kTargetOpenFailed},
        {"reads, denies writing", kModeReadExisting, kShareRead, kTargetOpenFailed},
        {"reads, shares both", kModeReadExisting, kShareReadWrite, kSuccess},
    };
    TempDir dir;
    const NativeString source = dir.Path("补丁.bin");
    ASSERT_TRUE(WriteWholeFile(source, BuildPayload(300, 0, {{10, {1, 2, 3}}})));
    const std::vector<uint8_t> image = PatternBytes(200, 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const NativeString target = dir.Path("镜像.iso");
        ASSERT_TRUE(WriteWholeFile(target, image));
        {
            Holder holder(target, c.mode, c.share, dir);
            ASSERT_TRUE(holder.Opened());
            EXPECT_EQ(ApplyFiles(source, target), std::vector<std::u16string>{c.expected});
            if (c.expected != kSuccess) EXPECT_EQ(ReadWholeFile(target), image);
        }
        // Once the other process is gone, the same target patches.
        if (c.expected != kSuccess) EXPECT_EQ(ApplyFiles(source, target), std::vector<std::u16string>{kSuccess});
    }
}

// An application ended by TerminateProcess at moments spread over its run: the next
// application's recovery leaves the original or, when the end came after it had finished, the
// patched file, and no journal.
TEST(OtherProcess, TerminatedWhileApplying)
{
    TempDir dir;
    const NativeString source = dir.Path("patch.bin"), target = dir.Path("image.iso"), ready = dir.Path("ready");
    const std::vector<uint8_t> image = PatternBytes(16u << 20, 8);
    std::vector<VelkRecord> records;
    for (uint64_t at = 1000; at + 8 < image.size(); at += 1201) records.push_back({at, PatternBytes(8, static_cast<uint32_t>(at))});
    const std::vector<uint8_t> payload = BuildPayload(static_cast<int64_t>(image.size()) + 100, 0, records);
    std::vector<uint8_t> patched = image;
    patched.resize(image.size() + 100);
    for (const VelkRecord& r : records) std::copy(r.data.begin(), r.data.end(), patched.begin() + static_cast<ptrdiff_t>(r.position));
    ASSERT_TRUE(WriteWholeFile(source, payload));

    // Runs the child; ends it `endAfter` milliseconds after it began applying (never when
    // negative). `lastRun`: how long the application ran.
    double lastRun = 0;
    auto run = [&](int endAfter) {
        ASSERT_TRUE(WriteWholeFile(target, image));
        fs::remove(fs::path(ready));
        std::wstring command = L"\"" + Beside(L"velk_apply_child.exe").wstring() + L"\" \"" + source + L"\" \"" +
                               target + L"\" \"" + ready + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
        CloseHandle(child.hThread);
        while (!fs::exists(fs::path(ready)) && WaitForSingleObject(child.hProcess, 1) == WAIT_TIMEOUT) {
        }
        const auto began = std::chrono::steady_clock::now();
        if (endAfter >= 0 && WaitForSingleObject(child.hProcess, static_cast<DWORD>(endAfter)) == WAIT_TIMEOUT)
            TerminateProcess(child.hProcess, 9);
        WaitForSingleObject(child.hProcess, 60000);
        CloseHandle(child.hProcess);
        lastRun = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    };
    run(-1);
    ASSERT_TRUE(ReadWholeFile(target) == patched);
    const double took = lastRun;
    int restored = 0;
    for (int quarter = 1; quarter <= 3; ++quarter) {
        const int endAfter = static_cast<int>(took * quarter / 4);
        SCOPED_TRACE("ended after " + std::to_string(endAfter) + " of " + std::to_string(static_cast<int>(took)) + " ms");
        run(endAfter);
        RecordingOwner owner;
        CVELK_IPS_IN recovery(owner);
        const RecoveryOutcome outcome = recovery.RecoverTarget(target.c_str());
        EXPECT_TRUE(outcome != RecoveryOutcome::kUnusable && outcome != RecoveryOutcome::kFailed);
        restored += outcome == RecoveryOutcome::kRestored;
        const std::vector<uint8_t> after = ReadWholeFile(target);
        EXPECT_TRUE(after == image || after == patched) << "a mixed target";
        EXPECT_FALSE(FileExists(CVELK_UndoJournal::PathFor(target.c_str())));
    }
    std::printf("%d of 3 ended applications restored (one took %.0f ms)\n", restored, took);
}

}  // namespace
