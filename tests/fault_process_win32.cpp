// A target that another Windows process holds open: that process is velk_file_holder, started
// beside this test program; whether patching may go on depends on what it does with the file
// and what it lets others do.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "file/velk_file.h"
#include "payload/ips_in.h"
#include "payload/messages.h"
#include "payload/payload_writer.h"
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(fs::path(m_ready)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in{fs::path(m_ready)};
        char c = 0;
        in >> c;
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

}  // namespace
