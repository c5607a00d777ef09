// The application over in-memory files, payload and target both taken from the input, checked
// against a plain model of the format, extension block included. Optionally one call of either file is broken.
//
// Input: flags (1 byte); when bit 1 is set, a fault (side and operation 1 byte, kind 1 byte,
// which call 1 byte); the payload's position in the source (1 byte); the target's length
// (2 bytes) and bytes; the rest is the source.
//   flags bit 0: the CRC question is answered OK
//   flags bit 1: a fault is injected
#include <algorithm>
#include <cstring>
#include <string>

#include "apply/application.h"
#include "apply/messages.h"
#include "crc/crc32.h"
#include "file/io.h"
#include "file/memory_file.h"
#include "format/payload_format.h"
#include "fuzz/fuzz_support.h"
#include "support/fault_file.h"

namespace {

using namespace velk_messages;

// Small enough to keep each run fast, large enough for every kind of record.
constexpr uint64_t kTargetLimit = 1u << 20;

class Recorder : public CVELK_MessageOwner {
public:
    explicit Recorder(bool answerOk) : m_answerOk(answerOk) {}
    void ShowMessage(const char16_t* text) override { messages.push_back(text); }
    bool AskOkCancel(const char16_t*) override
    {
        ++questions;
        return m_answerOk;
    }
    std::vector<const char16_t*> messages;
    int questions = 0;

private:
    bool m_answerOk;
};

// Reads the payload's bytes with the format's rule: a read fails only when nothing is left.
class Cursor {
public:
    Cursor(const std::vector<uint8_t>& bytes, uint64_t at) : m_bytes(bytes), m_at(at) {}
    bool Field(uint64_t* value, int bytes)
    {
        const uint64_t got = Available(static_cast<uint64_t>(bytes));
        if (got == 0) return false;
        uint8_t raw[8] = {};
        std::memcpy(raw, m_bytes.data() + m_at, static_cast<size_t>(got));
        m_at += got;
        *value = velk_io::LoadLE(raw, bytes);
        return true;
    }
    uint64_t Skip(uint64_t count)
    {
        const uint64_t got = Available(count);
        m_at += got;
        return got;
    }
    uint64_t At() const { return m_at; }

private:
    uint64_t Available(uint64_t count) const
    {
        const uint64_t left = m_at < m_bytes.size() ? m_bytes.size() - m_at : 0;
        return std::min(left, count);
    }
    const std::vector<uint8_t>& m_bytes;
    uint64_t m_at;
};

struct Expected {
    const char16_t* message = nullptr;  // nullptr: the silent outcome of a declined question
    bool asksQuestion = false;
    bool touchesTarget = false;  // the failure (if any) comes after the resize
    bool verifiesResult = false;  // the written file's CRC is checked against the block
    std::vector<uint8_t> target;
};

// What a correct application does, written from the format's rules alone.
Expected Model(const std::vector<uint8_t>& source, uint64_t offset, std::vector<uint8_t> target, bool answerOk)
{
    Expected e;
    e.target = target;
    Cursor in(source, offset);
    uint64_t magicLeft = source.size() > offset ? source.size() - offset : 0;
    if (magicLeft == 0) {
        e.message = kInvalidPatch;
        return e;
    }
    uint8_t magic[16] = {};
    const uint64_t magicBytes = std::min<uint64_t>(16, magicLeft);
    std::memcpy(magic, source.data() + offset, static_cast<size_t>(magicBytes));
    in.Skip(magicBytes);
    switch (velk_format::ClassifyMagic(magic, 16)) {
    case velk_format::VersionVerdict::kInvalid: e.message = kInvalidPatch; return e;
    case velk_format::VersionVerdict::kOlder: e.message = kOlderVersion; return e;
    case velk_format::VersionVerdict::kUnknown: e.message = kUnknownVersion; return e;
    case velk_format::VersionVerdict::kCurrent: break;
    }
    uint64_t patchedSize = 0, crc = 0, dataOffset = 0;
    if (!in.Field(&patchedSize, 8)) return e.message = kDamaged1, e;
    if (!in.Field(&crc, 4)) return e.message = kDamaged2, e;
    const bool haveDataOffset = in.Field(&dataOffset, 4);
    const uint64_t payloadLength = source.size() - offset;
    uint32_t resultCrc = 0;
    const bool block = haveDataOffset && ModelExtensionBlock(source, offset, dataOffset, &resultCrc);
    // With a block the data offset is checked before the CRC step.
    if (block && dataOffset >= payloadLength) return e.message = kDamaged4, e;
    const uint32_t targetCrc = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, target.data(), target.size());
    if (block && static_cast<int64_t>(patchedSize) == static_cast<int64_t>(target.size()) && targetCrc == resultCrc)
        return e.message = kAlreadyPatched, e;
    if (crc != 0 && targetCrc != crc) {
        e.asksQuestion = true;
        if (!answerOk) return e;
    }
    e.verifiesResult = block && crc != 0 && !e.asksQuestion;
    if (!haveDataOffset) return e.message = kDamaged3, e;
    if (dataOffset < 40 || dataOffset >= payloadLength) return e.message = kDamaged4, e;

    struct Record {
        uint64_t position;
        uint64_t at, length;
    };
    std::vector<Record> records;
    Cursor stream(source, offset + dataOffset);
    uint64_t position = 0;
    for (;;) {
        uint64_t type = 0, field = 0, length = 0;
        if (!stream.Field(&type, 1)) return e.message = kDamaged5, e;
        if (type == 0xFF) break;
        if (type == 1) {
            if (!stream.Field(&field, 4)) return e.message = kDamaged6_1, e;
            position += field;
        } else if (type == 2) {
            if (!stream.Field(&field, 8)) return e.message = kDamaged6_2, e;
            position = field;
        } else {
            return e.message = kInvalidRecordType, e;
        }
        if (!stream.Field(&length, 2)) return e.message = kDamaged7, e;
        const uint64_t at = stream.At();
        const uint64_t got = length == 0 ? 0 : stream.Skip(length);
        if (got == 0) return e.message = kDamaged8, e;
        if (static_cast<int64_t>(position) < 0) return e.message = kTargetSeekFailed, e;
        records.push_back({position, at, got});
    }

    if (static_cast<int64_t>(patchedSize) < 0 || patchedSize > kTargetLimit) return e.message = kResizeFailed, e;
    e.touchesTarget = true;
    e.target.resize(static_cast<size_t>(patchedSize));
    for (const Record& r : records) {
        if (r.position + r.length > kTargetLimit) return e.message = kWriteFailed, e;
        if (r.position + r.length > e.target.size()) e.target.resize(static_cast<size_t>(r.position + r.length));
        std::memcpy(e.target.data() + r.position, source.data() + r.at, static_cast<size_t>(r.length));
    }
    // Without a journal the written file stays, and the message says only that it is not right.
    const bool resultRight = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, e.target.data(), e.target.size()) == resultCrc;
    e.message = e.verifiesResult && !resultRight ? kResultCrcFailedKept : kSuccess;
    return e;
}

bool Same(const char16_t* a, const char16_t* b)
{
    return a == b || (a && b && std::u16string(a) == std::u16string(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint64_t flags = input.Take(1);
    const bool answerOk = flags & 1;
    const bool inject = flags & 2;
    FaultPlan plan;
    bool faultOnSource = false;
    if (inject) {
        const uint64_t where = input.Take(1);
        faultOnSource = where & 0x80;
        plan.op = static_cast<FaultOp>(1 + (where & 0x7F) % (static_cast<int>(FaultOp::kCount) - 1));
        plan.kind = static_cast<FaultKind>(input.Take(1) % 4);
        plan.nth = 1 + input.Take(1);
    }
    const uint64_t offset = input.Take(1);
    const std::vector<uint8_t> original = input.TakeBytes(static_cast<size_t>(input.Take(2)));
    const std::vector<uint8_t> sourceBytes = input.Rest();

    CVELK_MemoryFile source(sourceBytes, kAccessRead);
    CVELK_MemoryFile target(original);
    target.SetSizeLimit(kTargetLimit);
    CVELK_FaultSwitch sourceFaults(faultOnSource ? plan : FaultPlan());
    CVELK_FaultSwitch targetFaults(faultOnSource ? FaultPlan() : plan);
    CVELK_FaultFile wrappedSource(source, sourceFaults);
    CVELK_FaultFile wrappedTarget(target, targetFaults);

    Recorder owner(answerOk);
    bool applied;
    {
        CVELK_IPS_IN applier(owner);
        applied = applier.ApplyOpened(wrappedSource, wrappedTarget, static_cast<int64_t>(offset));
    }
    const Expected expected = Model(sourceBytes, offset, original, answerOk);

    // One message, or none after a declined question; success and the result agree.
    VELK_FUZZ_CHECK(owner.messages.size() <= 1);
    VELK_FUZZ_CHECK(owner.questions <= 1);
    if (owner.messages.empty()) VELK_FUZZ_CHECK(owner.questions == 1 && !answerOk && !applied);
    const bool done = owner.messages.size() == 1 &&
                      (Same(owner.messages[0], kSuccess) || Same(owner.messages[0], kAlreadyPatched));
    VELK_FUZZ_CHECK(applied == done);
    if (applied) VELK_FUZZ_CHECK(Same(owner.messages[0], expected.message) && target.Bytes() == expected.target);

    const bool tripped = sourceFaults.Tripped() || targetFaults.Tripped();
    if (!tripped) {
        // Nothing broke: the engine and the model agree on everything.
        VELK_FUZZ_CHECK(owner.questions == (expected.asksQuestion ? 1 : 0));
        VELK_FUZZ_CHECK(owner.messages.empty() ? expected.message == nullptr
                                               : Same(owner.messages[0], expected.message));
        const bool writtenWhole = applied || Same(expected.message, kResultCrcFailedKept);
        if (!expected.touchesTarget || writtenWhole) VELK_FUZZ_CHECK(target.Bytes() == expected.target);
    } else if (!applied) {
        // Only the target's own resize, seek or write may leave it changed.
        const bool targetIo = !faultOnSource && (plan.op == FaultOp::kSetSize || plan.op == FaultOp::kSeek ||
                                                 plan.op == FaultOp::kWrite);
        if (!targetIo && !expected.touchesTarget) VELK_FUZZ_CHECK(target.Bytes() == original);
    }
    return 0;
}
