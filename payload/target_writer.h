// Writes record data into the target at absolute positions.
#pragma once

#include <cstdint>

#include "file/velk_xfile.h"

enum class TargetWriteStatus { kOk, kSeekFailed, kWriteFailed };

class CVELK_TargetWriter {
public:
    explicit CVELK_TargetWriter(CVELK_xFile& target) : m_target(target) {}

    // A position that is negative as a signed 64-bit value cannot be sought to.
    TargetWriteStatus Write(uint64_t position, const uint8_t* data, uint32_t length);
    // Writes out whatever is still held back.
    TargetWriteStatus Finish() { return TargetWriteStatus::kOk; }

private:
    CVELK_xFile& m_target;
};
