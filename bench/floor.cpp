// The crash-safe floor: what any application in place that survives a power cut must do at
// least, done on the same files as velkpatch so that the two are timed side by side
// (bench/floor_on_disk.sh). It keeps no journal format, checks nothing and holds in memory
// whatever it needs again: a yardstick, not an applier.
//
//   velk_bench_floor apply PAYLOAD TARGET
//       reads TARGET once, front to back, keeping what the writes below cover; writes the bytes
//       the records overwrite (each stretch with its position and length, and the tail a shrink
//       cuts off) to TARGET.undo, flushes it and its folder; sets TARGET's size; writes the
//       records' ranges in place, those closer than 4 KiB merged into one positioned write (the
//       unchanged bytes between them rewritten as they were, so they need no saving); flushes
//       TARGET; removes TARGET.undo.
//   velk_bench_floor read FILE...
//       reads each file once, front to back, in 1 MiB reads into a page-aligned buffer: the
//       aligned plain read beside the CRC check, and reading both inputs once beside create.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file/file_system.h"
#include "file/io.h"
#include "file/io_buffer.h"
#include "file/velk_file.h"
#include "format/payload_format.h"
#include "format/record_stream.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t kReadBytes = 1u << 20;
constexpr int64_t kMergeGap = 4096;
constexpr uint32_t kUndoEntryHeader = 12;  // position and length, as a journal entry has them

int Fail(const char* what)
{
    std::fprintf(stderr, "velk_bench_floor: %s\n", what);
    return 1;
}

// A stretch of a file, and where its bytes lie in a buffer.
struct Span {
    int64_t from, to;
    size_t at;
};

// The payload read whole, and its records: their stretches in the order of the stream, each
// with where its data lies in the payload.
struct Payload {
    int64_t patchedSize = 0;
    std::vector<uint8_t> bytes;
    std::vector<Span> records;
};

bool ReadPayload(const NativeString& path, Payload* payload)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return false;
    payload->bytes.resize(static_cast<size_t>(file.GetSize()));
    const auto size = static_cast<uint32_t>(payload->bytes.size());
    if (size < velk_format::kHeaderBytes || velk_io::ReadFully(file, payload->bytes.data(), size) != size) return false;
    payload->patchedSize = static_cast<int64_t>(velk_io::LoadLE(payload->bytes.data() + velk_format::kPatchedSizeOffset, 8));
    const auto start = static_cast<int64_t>(velk_io::LoadLE(payload->bytes.data() + velk_format::kDataOffsetOffset, 4));
    if (!file.Seek(start)) return false;
    CVELK_ReadAhead input(file, CVELK_ReadAhead::kDefaultCapacity, start);
    CVELK_RecordReader reader(input, nullptr);
    payload->records.reserve(size / 8);
    for (;;) {
        switch (reader.Next(false)) {
        case RecordStatus::kEnd: return true;
        case RecordStatus::kFault: return false;
        case RecordStatus::kRecord: break;
        }
        const auto at = static_cast<int64_t>(reader.Position());
        const size_t data = static_cast<size_t>(start + input.Consumed()) - reader.Delivered();
        payload->records.push_back({at, at + reader.Delivered(), data});
    }
}

// The records' stretches in order, merged where they are less than `gap` apart (0: where they
// overlap or touch); `at` lays the merged stretches out one after the other, each in phase with
// its place in the file (io_buffer.h), and `total` is what that takes.
std::vector<Span> Merged(std::vector<Span> spans, int64_t gap, size_t* total)
{
    const auto earlier = [](const Span& a, const Span& b) { return a.from < b.from; };
    if (!std::is_sorted(spans.begin(), spans.end(), earlier)) std::sort(spans.begin(), spans.end(), earlier);
    size_t kept = 0;
    for (const Span& s : spans) {
        if (kept > 0 && s.from - spans[kept - 1].to < std::max<int64_t>(gap, 1))
            spans[kept - 1].to = std::max(spans[kept - 1].to, s.to);
        else
            spans[kept++] = s;
    }
    spans.resize(kept);
    *total = 0;
    for (Span& s : spans) {
        s.at = *total + CVELK_IoBuffer::PhaseOf(s.from - static_cast<int64_t>(*total));
        *total = s.at + static_cast<size_t>(s.to - s.from);
    }
    return spans;
}

// The span of `spans` (in order, apart) that holds `position`.
const Span& Holding(const std::vector<Span>& spans, int64_t position)
{
    return *(std::upper_bound(spans.begin(), spans.end(), position,
                              [](int64_t p, const Span& s) { return p < s.from; }) - 1);
}

// Reads the file once, front to back, 1 MiB a read, and puts what lies in `spans` (in order,
// apart, in phase in `into`) in its place: a read that one span covers goes there straight.
bool ReadOnce(CVELK_File& target, int64_t size, const std::vector<Span>& spans, uint8_t* into)
{
    CVELK_IoBuffer scratch(kReadBytes);
    size_t first = 0;  // the first span that ends after `at`
    for (int64_t at = 0; at < size;) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kReadBytes, size - at));
        const int64_t end = at + n;
        while (first < spans.size() && spans[first].to <= at) ++first;
        const bool covered = first < spans.size() && spans[first].from <= at && spans[first].to >= end;
        uint8_t* const out = covered ? into + spans[first].at + (at - spans[first].from) : scratch.Data();
        if (velk_io::ReadFully(target, out, n) != n) return false;
        for (size_t i = first; !covered && i < spans.size() && spans[i].from < end; ++i) {
            const int64_t from = std::max(spans[i].from, at), to = std::min(spans[i].to, end);
            std::memcpy(into + spans[i].at + (from - spans[i].from), scratch.Data() + (from - at),
                        static_cast<size_t>(to - from));
        }
        at = end;
    }
    return true;
}

// Writes `undo` to a new file, made durable with its name.
bool SaveUndo(const NativeString& path, const CVELK_IoBuffer& undo, size_t bytes)
{
    CVELK_FileSystem& files = DiskFileSystem();
    files.Remove(path.c_str());
    const std::unique_ptr<CVELK_xFile> file = files.CreateNew(path.c_str(), 0600);
    if (!file) return false;
    for (size_t done = 0; done < bytes;) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(bytes - done, 1u << 30));
        if (!velk_io::WriteFully(*file, undo.Data() + done, n)) return false;
        done += n;
    }
    return file->Flush() && files.SyncFolderOf(path.c_str());
}

int Apply(const NativeString& payloadPath, const NativeString& targetPath)
{
    Payload payload;
    if (!ReadPayload(payloadPath, &payload)) return Fail("cannot read the payload");
    CVELK_File target;
    if (!target.OpenFile(targetPath.c_str(), kModeReadWriteExisting, kShareRead)) return Fail("cannot open the target");
    const int64_t oldSize = target.GetSize(), kept = std::min(oldSize, payload.patchedSize);
    size_t saved = 0, written = 0;
    const std::vector<Span> saves = Merged(payload.records, 0, &saved);
    const std::vector<Span> writes = Merged(payload.records, kMergeGap, &written);

    // What the writes cover of the kept part, read once; past it the resize leaves zeros. The
    // tail a shrink cuts off lies behind.
    const auto tail = static_cast<size_t>(oldSize - kept);
    CVELK_IoBuffer contents(written + tail);
    if (!contents) return Fail("out of memory");
    std::vector<Span> readable;
    for (const Span& w : writes) {
        const int64_t to = std::min(w.to, kept);
        if (w.from < to) readable.push_back({w.from, to, w.at});
        if (to < w.to) std::memset(contents.Data() + w.at + std::max<int64_t>(0, to - w.from), 0,
                                   static_cast<size_t>(w.to - std::max(to, w.from)));
    }
    readable.push_back({kept, oldSize, written});
    if (!ReadOnce(target, oldSize, readable, contents.Data())) return Fail("cannot read the target");

    // The undo file: what the records overwrite of the kept part, then the tail.
    CVELK_IoBuffer undo(saved + kUndoEntryHeader * saves.size() + tail);
    if (!undo) return Fail("out of memory");
    uint8_t* out = undo.Data();
    for (const Span& s : saves) {
        const int64_t to = std::min(s.to, kept);
        if (s.from >= to) continue;
        velk_io::StoreLE(out, static_cast<uint64_t>(s.from), 8);
        velk_io::StoreLE(out + 8, static_cast<uint64_t>(to - s.from), 4);
        const Span& w = Holding(writes, s.from);
        std::memcpy(out + kUndoEntryHeader, contents.Data() + w.at + (s.from - w.from), static_cast<size_t>(to - s.from));
        out += kUndoEntryHeader + (to - s.from);
    }
    std::memcpy(out, contents.Data() + written, tail);
    out += tail;
    const NativeString undoPath = targetPath + Native(".undo");
    if (!SaveUndo(undoPath, undo, static_cast<size_t>(out - undo.Data()))) return Fail("cannot save the undo file");
    if (!target.SetSize(payload.patchedSize)) return Fail("cannot set the size");

    // The records laid over the old bytes in their order, then each merged stretch in one
    // positioned write.
    for (const Span& r : payload.records) {
        const Span& w = Holding(writes, r.from);
        std::memcpy(contents.Data() + w.at + (r.from - w.from), payload.bytes.data() + r.at, static_cast<size_t>(r.to - r.from));
    }
    for (const Span& w : writes) {
        for (int64_t at = w.from; at < w.to;) {
            const auto n = static_cast<uint32_t>(std::min<int64_t>(w.to - at, 1 << 30));
            if (!velk_io::WriteFullyAt(target, at, contents.Data() + w.at + (at - w.from), n))
                return Fail("cannot write the target");
            at += n;
        }
    }
    if (!target.Flush()) return Fail("cannot flush the target");
    return DiskFileSystem().Remove(undoPath.c_str()) ? 0 : Fail("cannot remove the undo file");
}

int ReadFiles(int count, char** paths)
{
    CVELK_IoBuffer buffer(kReadBytes);
    uint64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        CVELK_File file;
        if (!file.OpenFile(Native(paths[i]).c_str(), kModeReadExisting, kShareRead)) return Fail("cannot open a file");
        for (;;) {
            const uint32_t n = file.Read(buffer.Data(), kReadBytes);
            if (n == 0) break;
            sum += buffer.Data()[n - 1];  // the bytes are looked at, so the copy cannot be skipped
        }
    }
    return sum == 1 ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "apply" && argc == 4) return Apply(Native(argv[2]), Native(argv[3]));
    if (command == "read" && argc > 2) return ReadFiles(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: velk_bench_floor apply PAYLOAD TARGET | read FILE...\n");
    return 2;
}
