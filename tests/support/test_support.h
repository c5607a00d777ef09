// Helpers shared by the test suites: a recording message owner, temporary folders and files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "apply/message_owner.h"
#include "format/set_format.h"
#include "file/native_path.h"

struct ProgressReport {
    VelkProgressStage stage;
    int64_t done, total;
};

// Records every message and progress report; answers the CRC question with `answerOk`; asks the
// engine to stop once it has polled more than `stopAfterPolls` times (never when negative).
class RecordingOwner : public CVELK_MessageOwner {
public:
    explicit RecordingOwner(bool answerOk = false) : m_answerOk(answerOk) {}
    void ShowMessage(const char16_t* text) override { messages.emplace_back(text); }
    bool AskOkCancel(const char16_t* text) override
    {
        questions.emplace_back(text);
        return m_answerOk;
    }
    void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override
    {
        progress.push_back({stage, done, total});
    }
    bool StopRequested() override { return stopAfterPolls >= 0 && ++stopPolls > stopAfterPolls; }
    void Notice(VelkNotice notice) override { notices.push_back(notice); }

    std::vector<std::u16string> messages;
    std::vector<std::u16string> questions;
    std::vector<ProgressReport> progress;
    std::vector<VelkNotice> notices;
    int stopAfterPolls = -1;
    int stopPolls = 0;

private:
    bool m_answerOk;
};

// A UTF-8 text as the platform's path text.
NativeString Native(const std::string& utf8);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The path of `name` inside the folder (UTF-8 name).
    NativeString Path(const std::string& name) const;
    const NativeString& Root() const { return m_root; }

private:
    NativeString m_root;
};

bool WriteWholeFile(const NativeString& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadWholeFile(const NativeString& path);
// A file of `size` bytes that takes (almost) no space: a hole from start to end.
bool MakeSparseFile(const NativeString& path, int64_t size);
bool FileExists(const NativeString& path);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// A minimal PE image: DOS header, PE signature, COFF header, a PE32+ optional header and a
// section table, with the raw data of each section (pointer, size) where the table says.
std::vector<uint8_t> MakePe(std::vector<std::pair<uint32_t, uint32_t>> sections, uint32_t sizeOfHeaders,
                            uint32_t symbolTable = 0, uint32_t symbols = 0, uint32_t stringBytes = 4,
                            uint32_t certificate = 0, uint32_t certificateSize = 0);

// A u16string for gtest messages.
std::string Printable(const std::u16string& text);

// A member of a set the tests make: before is the original (modify, delete), after the result
// (modify, create).
struct SetMember {
    velk_set::Kind kind;
    std::string path;
    std::vector<uint8_t> before, after;
};

// The set of `members` with the member at `anchor` (a path) as the file the user picks. The
// members go into the directory's order unless `asGiven`: a crafted set may have any order.
std::vector<uint8_t> MakeSetBytes(std::vector<SetMember> members, const std::string& anchor, bool asGiven = false,
                                  const std::u16string& description = u"说明");
