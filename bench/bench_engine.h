// What the benchmarks run of the engine: a message owner that keeps quiet, one whole application
// as the programs run it, and a file's CRC-32.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "apply/application.h"
#include "apply/messages.h"
#include "file/native_path.h"
#include "file/velk_file.h"
#include "maker/payload_writer.h"

namespace velk_bench {

class SilentOwner : public CVELK_MessageOwner {
public:
    void ShowMessage(const char16_t* text) override { last = text; }
    bool AskOkCancel(const char16_t*) override { return false; }
    std::u16string last;
};

// The whole application as the programs run it; `journal` false: without the undo journal and
// the flushes that come with it, as before journals existed; `keep`: the journal kept for undo.
inline bool ApplyWithEngine(const NativeString& sourcePath, const NativeString& targetPath, bool journal = true,
                            bool keep = false)
{
    SilentOwner owner;
    CVELK_IPS_IN applier(owner);
    applier.SetUndoJournal(journal);
    applier.SetKeepUndo(keep);
    return applier.ApplyPatch(sourcePath.c_str(), targetPath.c_str(), 0) && owner.last == velk_messages::kSuccess;
}

// `count` edits of 1 to 64 random bytes at random places of a file of `size` bytes, in the
// order of their places: what a translation or a fix does to a disc image. The same for a count.
inline std::vector<VelkRecord> ScatteredEdits(int64_t size, uint32_t count)
{
    std::mt19937 random(count);
    std::vector<VelkRecord> records;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = random() % static_cast<uint64_t>(size - 64);
        std::vector<uint8_t> data(1 + random() % 64);
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
        records.push_back({at, data});
    }
    std::sort(records.begin(), records.end(), [](const VelkRecord& a, const VelkRecord& b) { return a.position < b.position; });
    return records;
}

inline uint32_t CrcOf(const NativeString& path)
{
    CVELK_File file;
    return file.OpenFile(path.c_str(), kModeReadExisting, kShareRead) ? file.GetCrc32() : 0;
}

}  // namespace velk_bench
