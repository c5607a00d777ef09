// Applies a payload to a target file in place, reporting every outcome through its message owner.
#pragma once

#include <cstdint>
#include <memory>

#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "payload/message_owner.h"
#include "payload/target_writer.h"

class CVELK_ReadAhead;

class CVELK_IPS_IN {
public:
    explicit CVELK_IPS_IN(CVELK_MessageOwner& owner) : m_owner(owner) {}
    virtual ~CVELK_IPS_IN() {}
    CVELK_IPS_IN(const CVELK_IPS_IN&) = delete;
    CVELK_IPS_IN& operator=(const CVELK_IPS_IN&) = delete;

    // Opens the patch source (read only) and the target (read and write), both sharing only
    // reading, and applies. True when the patch was applied completely; every outcome but a
    // negative offset and a declined CRC question has shown exactly one message.
    bool ApplyPatch(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset);

    // The application proper, over files that are already open.
    bool ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset);

    // True when the last application ended because the message owner asked it to stop. It then
    // showed no message.
    bool Stopped() const { return m_stopped; }

    // Writes the records from the source's current position until the end record. True on the
    // end record; false after having shown a message.
    bool ApplyRecords(CVELK_xFile& source, CVELK_xFile& target);

    static constexpr uint32_t kWorkBufferBytes = 65536;
    // A record stream up to this long is read from the patch source once and written from
    // memory; a longer one is read a second time for writing. Together with the target writer's
    // window and the read-ahead this keeps an application well under 64 MiB of memory.
    static constexpr uint32_t kStreamMemoryBytes = 32u << 20;

protected:
    // Opens one of ApplyPatch's two files; null when the open fails. The file is closed when the
    // pointer goes. Tests override it to watch the files or make their operations fail.
    virtual std::unique_ptr<CVELK_xFile> OpenFile(const NativeChar* path, int mode, int share);
    void SetStreamMemoryLimit(uint32_t bytes) { m_streamMemoryBytes = bytes; }

private:
    enum class CrcVerdict { kMatches, kDiffers, kReadFailed, kStopped };
    CrcVerdict CheckTargetCrc(CVELK_xFile& target, uint32_t expected);
    // Reads the stream once without writing. Returns the message of the first fault the writing
    // pass would meet, or nullptr when there is none.
    const char16_t* CheckRecords(CVELK_ReadAhead& input);
    bool WriteRecords(CVELK_ReadAhead& input, CVELK_xFile& target, int64_t streamBytes);
    bool Fail(const char16_t* message);
    bool FailTargetWrite(TargetWriteStatus status);
    bool Stop();

    CVELK_MessageOwner& m_owner;
    uint32_t m_streamMemoryBytes = kStreamMemoryBytes;
    bool m_stopped = false;
    uint8_t m_work[kWorkBufferBytes] = {};
};
