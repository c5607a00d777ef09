// What the benchmarks run of the engine: a message owner that keeps quiet, one whole application
// as the programs run it, and a file's CRC-32.
#pragma once

#include <string>

#include "file/native_path.h"
#include "file/velk_file.h"
#include "payload/ips_in.h"
#include "payload/messages.h"

namespace velk_bench {

class SilentOwner : public CVELK_MessageOwner {
public:
    void ShowMessage(const char16_t* text) override { last = text; }
    bool AskOkCancel(const char16_t*) override { return false; }
    std::u16string last;
};

// The whole application as the programs run it; `journal` false: without the undo journal and
// the flushes that come with it, as before journals existed.
inline bool ApplyWithEngine(const NativeString& sourcePath, const NativeString& targetPath, bool journal = true)
{
    SilentOwner owner;
    CVELK_IPS_IN applier(owner);
    applier.SetUndoJournal(journal);
    return applier.ApplyPatch(sourcePath.c_str(), targetPath.c_str(), 0) && owner.last == velk_messages::kSuccess;
}

inline uint32_t CrcOf(const NativeString& path)
{
    CVELK_File file;
    return file.OpenFile(path.c_str(), kModeReadExisting, kShareRead) ? file.GetCrc32() : 0;
}

}  // namespace velk_bench
