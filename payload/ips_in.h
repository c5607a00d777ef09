// Applies a payload to a target file in place, reporting every outcome through its message owner.
#pragma once

#include <cstdint>

#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "payload/message_owner.h"

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

    // Writes the records from the source's current position until the end record. True on the
    // end record; false after having shown a message.
    bool ApplyRecords(CVELK_xFile& source, CVELK_xFile& target);

    static constexpr uint32_t kWorkBufferBytes = 65536;

private:
    // Reads the stream once without writing. Returns the message of the first fault the writing
    // pass would meet, or nullptr when there is none.
    const char16_t* CheckRecords(CVELK_xFile& source);
    bool Fail(const char16_t* message);

    CVELK_MessageOwner& m_owner;
    uint8_t m_work[kWorkBufferBytes] = {};
};
