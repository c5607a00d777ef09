// Targets that the operating system stands in the way of, on POSIX: held open by another
// process, read-only for an ordinary user, named with bytes that are not UTF-8, and on a disk
// too full for the patched size. Work that changes the process (its user, its mounts) runs in
// a child, which reports back a line of text per case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "apply/application.h"
#include "apply/messages.h"
#include "file/velk_file.h"
#include "format/payload_text.h"
#include "format/summary.h"
#include "maker/payload_writer.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;

std::string ApplyAndDescribe(const std::string& source, const std::string& target)
{
    RecordingOwner owner(true);
    CVELK_IPS_IN applier(owner);
    applier.ApplyPatch(source.c_str(), target.c_str(), 0);
    std::string text;
    for (const std::u16string& m : owner.messages) text += (text.empty() ? "" : " + ") + Utf16ToUtf8(m);
    return text.empty() ? "(no message)" : text;
}

// Runs `work` in a child process and returns what it reported.
std::string RunInChild(const std::function<std::string()>& work)
{
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        close(channel[0]);
        const std::string report = work();
        ssize_t ignored = write(channel[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += " (child ended abnormally)";
    return report;
}

bool SkipReported(const std::string& report)
{
    if (report.rfind("skip: ", 0) != 0) return false;
    std::printf("skipped: %s\n", report.c_str() + 6);
    return true;
}

class SystemTargets : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = dir.Path("patch.bin");
        ASSERT_TRUE(WriteWholeFile(source, BuildPayload(300, 0, {{10, {1, 2, 3}}, {299, {4}}})));
    }
    TempDir dir;
    std::string source;
    const std::vector<uint8_t> image = PatternBytes(200, 6);
};

// A second process holds the target open; whether patching may go on depends on what that
// process does with it and what it lets others do.
TEST_F(SystemTargets, TargetHeldOpenByAnotherProcess)
{
#ifndef F_OFD_SETLK
    GTEST_SKIP() << "share codes are not enforced without open-file-description locks";
#endif
    struct Holder {
        const char* what;
        int mode, share;
        const char16_t* expected;
    };
    const Holder holders[] = {
        {"reads and writes, shares both", kModeReadWriteExisting, kShareReadWrite, kTargetOpenFailed},
        {"writes only, shares both", kModeWriteExisting, kShareReadWrite, kTargetOpenFailed},
        {"reads, denies writing", kModeReadExisting, kShareRead, kTargetOpenFailed},
        {"reads, shares nothing", kModeReadExisting, kShareNone, kTargetOpenFailed},
        {"reads, shares both", kModeReadExisting, kShareReadWrite, kSuccess},
    };
    for (const Holder& h : holders) {
        SCOPED_TRACE(h.what);
        const std::string target = dir.Path("held.iso");
        ASSERT_TRUE(WriteWholeFile(target, image));

        int ready[2], release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t holder = fork();
        ASSERT_GE(holder, 0);
        if (holder == 0) {
            close(ready[0]);
            close(release[1]);
            CVELK_File file;
            const char opened = file.OpenFile(target.c_str(), h.mode, h.share) ? '1' : '0';
            if (write(ready[1], &opened, 1) != 1) _exit(1);
            char ignored;
            while (read(release[0], &ignored, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char opened = 0;
        ASSERT_EQ(read(ready[0], &opened, 1), 1);
        ASSERT_EQ(opened, '1');

        EXPECT_EQ(ApplyAndDescribe(source, target), Utf16ToUtf8(h.expected));
        if (h.expected != kSuccess) EXPECT_EQ(ReadWholeFile(target), image);

        close(release[1]);
        close(ready[0]);
        int status = 0;
        waitpid(holder, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        // Once the other process is gone, the same target patches.
        if (h.expected != kSuccess) EXPECT_EQ(ApplyAndDescribe(source, target), Utf16ToUtf8(kSuccess));
    }
}

// A file without write permission, for a user the permission applies to. The superuser
// ignores permission bits, so as root the application runs as the unprivileged user nobody.
TEST_F(SystemTargets, ReadOnlyTargetForAnOrdinaryUser)
{
    const std::string target = dir.Path("read-only.iso");
    ASSERT_TRUE(WriteWholeFile(target, image));
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const std::string report = RunInChild([&]() -> std::string {
        if (geteuid() == 0) {
            const gid_t nobodyGroup = 65534;
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobodyGroup) != 0 || setuid(nobody) != 0)
                return std::string("skip: cannot become an ordinary user: ") + std::strerror(errno);
        }
        if (access(source.c_str(), R_OK) != 0) return "skip: the patch is not readable as an ordinary user";
        return ApplyAndDescribe(source, target);
    });
    if (SkipReported(report)) return;
    EXPECT_EQ(report, Utf16ToUtf8(kTargetOpenFailed));
    EXPECT_EQ(ReadWholeFile(target), image);
}

// Linux file names are bytes; one that is not UTF-8 still patches, in a folder like it.
TEST_F(SystemTargets, NameThatIsNotUtf8)
{
    const std::string folder = dir.Path("\xC0\xAF-folder-\xFF");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string target = folder + "/disc \xFE\xFF image \xE9\x80.iso";
    ASSERT_TRUE(WriteWholeFile(target, image));
    const std::string renamedSource = folder + "/patch-\x80\x81.exe";
    ASSERT_EQ(rename(source.c_str(), renamedSource.c_str()), 0);
    EXPECT_EQ(ApplyAndDescribe(renamedSource, target), Utf16ToUtf8(kSuccess));
    const std::vector<uint8_t> patched = ReadWholeFile(target);
    ASSERT_EQ(patched.size(), 300u);
    EXPECT_EQ(patched[11], 2);
}

// Named pipes in place of the patch or the target: each application ends with one message and
// none waits for a writer that never comes (a hang ends the child by its alarm).
TEST_F(SystemTargets, NamedPipesNeverHang)
{
    const std::string pipePatch = dir.Path("patch.fifo"), pipeTarget = dir.Path("image.fifo");
    ASSERT_EQ(mkfifo(pipePatch.c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(pipeTarget.c_str(), 0644), 0);
    const std::string target = dir.Path("image.iso");
    ASSERT_TRUE(WriteWholeFile(target, image));
    const std::string report = RunInChild([&]() -> std::string {
        alarm(20);
        std::string out = "pipe as patch: " + ApplyAndDescribe(pipePatch, target) + "\n";
        out += "pipe as target: " + ApplyAndDescribe(source, pipeTarget) + "\n";
        CQM_DravInfo info;
        out += std::string("summary of a pipe: ") + (info.ReadInfo(pipePatch.c_str(), 0) ? "read" : "refused") + "\n";
        return out;
    });
    EXPECT_EQ(report, "pipe as patch: " + Utf16ToUtf8(kInvalidPatch) + "\n" +
                          "pipe as target: " + Utf16ToUtf8(kResizeFailed) + "\n" + "summary of a pipe: refused\n");
    EXPECT_EQ(ReadWholeFile(target), image);
}

// A small file system of the test's own (a tmpfs with a size limit, in a private mount
// namespace of a child process, so nothing outlives the test): growing the target past the
// free space fails at the resize and writes nothing; a record that outgrows the space fails
// at its write.
TEST_F(SystemTargets, FullDisk)
{
#ifndef __linux__
    GTEST_SKIP() << "a private small file system is made with Linux mount namespaces only";
#else
    const std::string mountPoint = dir.Path("small-disk");
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    const std::string report = RunInChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0) return std::string("skip: no mount namespace: ") + std::strerror(errno);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("skip: cannot make mounts private: ") + std::strerror(errno);
        if (mount("velk-small-disk", mountPoint.c_str(), "tmpfs", 0, "size=512k") != 0)
            return std::string("skip: cannot mount a tmpfs: ") + std::strerror(errno);

        std::string out;
        const std::string target = mountPoint + "/image.iso";
        const std::vector<uint8_t> original = PatternBytes(100 * 1024, 2);
        if (!WriteWholeFile(target, original)) return "cannot write the target";

        // 1: the patched size does not fit.
        const std::string growPatch = dir.Path("grow.bin");
        WriteWholeFile(growPatch, BuildPayload(4 << 20, 0, {{5, {1}}}));
        out += "grow: " + ApplyAndDescribe(growPatch, target);
        out += ReadWholeFile(target) == original ? " (unchanged)\n" : " (CHANGED)\n";

        // 2: it fits.
        const std::string fitPatch = dir.Path("fit.bin");
        WriteWholeFile(fitPatch, BuildPayload(300 * 1024, 0, {{5, {1}}, {300 * 1024 - 1, {2}}}));
        out += "fit: " + ApplyAndDescribe(fitPatch, target) + "\n";

        // 3: the size fits (32 KiB stay free), a record far past it does not.
        const std::string farPatch = dir.Path("far.bin");
        WriteWholeFile(farPatch, BuildPayload(480 * 1024, 0, {{1 << 20, PatternBytes(65535, 3)}}));
        out += "far record: " + ApplyAndDescribe(farPatch, target) + "\n";
        return out;
    });
    if (SkipReported(report)) return;
    EXPECT_EQ(report, "grow: " + Utf16ToUtf8(kResizeFailed) + " (unchanged)\n" +
                          "fit: " + Utf16ToUtf8(kSuccess) + "\n" +
                          "far record: " + Utf16ToUtf8(kWriteFailed) + "\n");
#endif
}

// A full ext4 of the test's own (an image the test makes and loop-mounts in a private mount
// namespace, so nothing outlives the test) with no inode left, so that no journal can be made,
// and 8 KiB of space. Growing 8 MiB by 3 MiB fails at the resize and leaves the size as it was;
// records that would fill holes of a sparse target fail before the first of them is written.
TEST_F(SystemTargets, FullExt4WithoutRoomForAJournal)
{
#ifndef __linux__
    GTEST_SKIP() << "the file system is mounted in a Linux mount namespace";
#else
    const std::string image = dir.Path("ext4.img"), mountPoint = dir.Path("full-disk");
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    ASSERT_TRUE(MakeSparseFile(image, 32 << 20));
    const std::string mkfs = "mkfs.ext4 -q -F -b 4096 -m 0 -N 16 " + image + " >/dev/null 2>&1";
    if (std::system(mkfs.c_str()) != 0) GTEST_SKIP() << "mkfs.ext4 did not make a file system";
    const std::string report = RunInChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0) return std::string("skip: no mount namespace: ") + std::strerror(errno);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("skip: cannot make mounts private: ") + std::strerror(errno);
        if (std::system(("mount -o loop " + image + " " + mountPoint + " >/dev/null 2>&1").c_str()) != 0)
            return "skip: cannot loop-mount an ext4 image";

        const std::string target = mountPoint + "/image.iso", sparse = mountPoint + "/sparse.iso";
        const std::vector<uint8_t> original = PatternBytes(8 << 20, 7);
        if (!WriteWholeFile(target, original) || !MakeSparseFile(sparse, 8 << 20)) return "cannot write the targets";
        // Every inode taken, then every block but two.
        for (int i = 0; WriteWholeFile(mountPoint + "/inode" + std::to_string(i), {}); ++i) {
        }
        const std::string filler = mountPoint + "/inode0";
        const int fd = open(filler.c_str(), O_WRONLY | O_APPEND);
        const std::vector<uint8_t> block(1 << 16, 0xEE);
        while (write(fd, block.data(), block.size()) > 0) {
        }
        for (ssize_t n = 1; n > 0;) n = write(fd, block.data(), 4096);
        const off_t full = lseek(fd, 0, SEEK_END);
        if (ftruncate(fd, full - 8192) != 0) return "cannot free 8 KiB";
        close(fd);

        std::string out;
        const std::string growPatch = dir.Path("grow.bin");
        WriteWholeFile(growPatch, BuildPayload(11 << 20, 0, {{5, {1}}}));
        out += "grow: " + ApplyAndDescribe(growPatch, target);
        out += ReadWholeFile(target) == original ? " (unchanged)\n" : " (CHANGED)\n";

        const std::string holesPatch = dir.Path("holes.bin");
        WriteWholeFile(holesPatch, BuildPayload(8 << 20, 0,
                                                {{1 << 20, PatternBytes(65535, 8)},
                                                 {4 << 20, PatternBytes(65535, 9)},
                                                 {7 << 20, PatternBytes(65535, 10)}}));
        out += "holes: " + ApplyAndDescribe(holesPatch, sparse);
        out += ReadWholeFile(sparse) == std::vector<uint8_t>(8 << 20, 0) ? " (unchanged)\n" : " (CHANGED)\n";
        return out;
    });
    if (SkipReported(report)) return;
    EXPECT_EQ(report, "grow: " + Utf16ToUtf8(kResizeFailed) + " (unchanged)\n" + "holes: " +
                          Utf16ToUtf8(kResizeFailed) + " (unchanged)\n");
#endif
}

}  // namespace
