// Writes the seed inputs of the fuzz targets into a corpus folder (one subfolder per target),
// built with the payload writer so that the seeds follow the format exactly:
//   fuzz_make_seeds fuzz/corpus
// Seeds are named seed-*; inputs kept from fuzzing runs are named regress-* and are not touched.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crc/crc32.h"
#include "file/memory_file.h"
#include "format/extension_block.h"
#include "journal/journal_writer.h"
#include "maker/payload_writer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

uint32_t Crc(const Bytes& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

bool Write(const fs::path& folder, const std::string& name, const Bytes& bytes)
{
    fs::create_directories(folder);
    std::ofstream out(folder / ("seed-" + name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

void LE(Bytes& to, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) to.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The apply target's input: flags, an optional fault, the payload's position, the target, the
// source (a prefix of `offset` bytes, then the payload).
Bytes ApplyInput(uint8_t flags, const Bytes& fault, uint8_t offset, const Bytes& target, const Bytes& payload)
{
    Bytes in{flags};
    Append(in, fault);
    in.push_back(offset);
    LE(in, target.size(), 2);
    Append(in, target);
    Append(in, Pattern(offset, 77));
    Append(in, payload);
    return in;
}

struct NamedPayload {
    std::string name;
    Bytes bytes;
};

// What records make of a target: cut or zero-extended to the patched size, then written.
Bytes Patched(Bytes target, size_t patchedSize, const std::vector<VelkRecord>& records)
{
    target.resize(patchedSize, 0);
    for (const VelkRecord& r : records) std::copy(r.data.begin(), r.data.end(), target.begin() + static_cast<ptrdiff_t>(r.position));
    return target;
}

// Payloads with an extension block: one that records its result truly, one that does not, and
// blocks that do not count.
void AddResultPayloads(std::vector<NamedPayload>& list, const Bytes& target)
{
    const std::vector<VelkRecord> records = {{3, {1, 2, 3}}, {70, {9}}};
    const Bytes result = Patched(target, 80, records);
    VelkResultIdentity identity{Crc(result), target.size()};
    const Bytes truthful = BuildPayload(80, Crc(target), records, u"", &identity);
    list.push_back({"result", truthful});
    list.push_back({"result-no-crc", BuildPayload(80, 0, records, u"", &identity)});
    identity.resultCrc ^= 1;
    list.push_back({"result-mismatch", BuildPayload(80, Crc(target), records, u"", &identity)});
    Bytes ownCrc = truthful, shortLength = truthful, pastDataOffset = truthful, longer = truthful;
    ownCrc[70] ^= 1;
    list.push_back({"block-own-crc", ownCrc});
    shortLength[48] = 31;
    list.push_back({"block-short", shortLength});
    pastDataOffset[28] = 71;
    list.push_back({"block-past-data-offset", pastDataOffset});
    // A later version's longer block, its own CRC over the fields this reader does not know.
    longer[28] = 76;
    longer[48] = 36;
    longer.insert(longer.begin() + 68, {0xAB, 0xCD, 0xEF, 0x01});
    const uint32_t own = Crc(Bytes(longer.begin() + 40, longer.begin() + 72));
    for (int i = 0; i < 4; ++i) longer[72 + i] = static_cast<uint8_t>(own >> (8 * i));
    list.push_back({"block-longer", longer});
}

std::vector<NamedPayload> Payloads(const Bytes& target)
{
    std::vector<NamedPayload> list;
    AddResultPayloads(list, target);
    list.push_back({"only-end", BuildPayload(static_cast<int64_t>(target.size()), 0, {})});
    list.push_back({"grow", BuildPayload(300, 0, {{5, {0xAA, 0xBB}}, {100, Pattern(40, 1)}, {290, Pattern(20, 2)}})});
    list.push_back({"shrink-crc", BuildPayload(16, Crc(target), {{3, {1, 2, 3}}}, u"汉化补丁\r\n")});
    list.push_back({"backwards", BuildPayload(64, 0, {{40, Pattern(8, 3)}, {2, Pattern(8, 4)}, {20, Pattern(30, 5)}})});
    list.push_back({"far-absolute", BuildPayload(64, 0, {{10, {1}}, {(1ull << 33) + 7, {2}}})});
    // Deltas whose sums carry past 32 bits, and past 63 bits into a position no seek reaches.
    list.push_back({"delta-carry", BuildPayload(64, 0, {{0xFFFFFFF0ull, {1}}, {0x100000010ull, {2}}})});
    list.push_back({"delta-negative", BuildPayload(64, 0, {{0x7FFFFFFFFFFFFFF0ull, {1}}, {0x8000000000000010ull, {2}}})});
    list.push_back({"long-record", BuildPayload(70000, 0, {{1000, Pattern(65535, 6)}})});
    list.push_back({"crc-mismatch", BuildPayload(32, 0x12345678u, {{1, {9}}})});
    list.push_back({"negative-size", BuildPayload(-1, 0, {{1, {9}}})});
    Bytes description = BuildPayload(8, 0, {{0, {1}}}, std::u16string(40, u'说'));
    list.push_back({"description", description});
    // Damaged forms of one payload: cut at every interesting point.
    const Bytes whole = BuildPayload(48, 0, {{4, {1, 2, 3, 4}}, {12, {5, 6}}});
    for (size_t cut : {size_t(8), size_t(20), size_t(26), size_t(30), size_t(41), size_t(44), size_t(47), size_t(50)})
        list.push_back({"cut-" + std::to_string(cut), Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut))});
    Bytes badType = whole;
    badType[40] = 0x03;
    list.push_back({"bad-type", badType});
    Bytes zeroLength = whole;
    zeroLength[45] = 0;
    zeroLength[46] = 0;
    list.push_back({"zero-length", zeroLength});
    for (const char* magic : {"VELK-PATCH2.0", "VELK-PATCH3.1", "VELK-PATCH7.0", "VELK-PATCH3", "VELK-PATCH3.0x"}) {
        Bytes versioned = whole;
        std::memset(versioned.data(), 0, 16);
        std::memcpy(versioned.data(), magic, std::strlen(magic));
        list.push_back({std::string("magic-") + magic, versioned});
    }
    return list;
}

Bytes TinyPe()
{
    Bytes pe(64, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = 64;
    Append(pe, {'P', 'E', 0, 0});
    LE(pe, 0x8664, 2);  // machine
    LE(pe, 2, 2);       // sections
    LE(pe, 0, 4);
    LE(pe, 0, 4);       // symbol table
    LE(pe, 0, 4);       // symbols
    LE(pe, 240, 2);     // optional header size
    LE(pe, 0x22, 2);
    Bytes optional(240, 0);
    optional[0] = 0x0B;
    optional[1] = 0x02;
    optional[60] = 0x00;  // SizeOfHeaders 0x400
    optional[61] = 0x04;
    Append(pe, optional);
    for (uint32_t i = 0; i < 2; ++i) {
        Bytes section(40, 0);
        std::memcpy(section.data(), i == 0 ? ".text" : ".data", 5);
        section[16] = 0x00;  // raw size 0x200
        section[17] = 0x02;
        section[20] = 0x00;  // raw pointer 0x400 + i * 0x200
        section[21] = static_cast<uint8_t>(0x04 + 2 * i);
        Append(pe, section);
    }
    pe.resize(0x800, 0xCC);
    return pe;
}

Bytes TinyElf()
{
    Bytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
    elf.resize(64, 0);
    elf[0x20] = 64;    // program headers right after the file header
    elf[0x34] = 64;    // header size
    elf[0x36] = 56;    // program header size
    elf[0x38] = 1;     // one program header
    elf[0x3A] = 64;    // section header size
    Bytes ph(56, 0);
    ph[0] = 1;         // PT_LOAD
    ph[8] = 0;         // offset 0
    ph[32] = 0x00;     // file size 0x200
    ph[33] = 0x02;
    Append(elf, ph);
    elf.resize(0x200, 0x90);
    return elf;
}

class QuietPacer : public CVELK_Pacer {
public:
    void Progress(int64_t, int64_t) override {}
    bool StopRequested() override { return false; }
};

// The journal's fuzz input: target length, target, then a journal the writer made for an
// application to that target that overwrites `ranges` and sets `patchedSize`.
Bytes JournalInput(const Bytes& target, int64_t patchedSize, const std::vector<std::pair<int64_t, int64_t>>& ranges)
{
    CVELK_MemoryFile journal(Bytes{}), file(target);
    velk_journal::Header header;
    header.nonce = 0x1234567890ABCDEFull;
    header.oldSize = static_cast<int64_t>(target.size());
    header.patchedSize = patchedSize;
    header.largestSize = patchedSize + 100;
    QuietPacer pacer;
    CVELK_JournalWriter writer(journal, file, header, pacer);
    writer.Begin();
    for (const auto& range : ranges) writer.Save(range.first, range.second);
    writer.Finish();
    Bytes input = {static_cast<uint8_t>(target.size()), static_cast<uint8_t>(target.size() >> 8)};
    Append(input, target);
    Append(input, journal.Bytes());
    return input;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    bool ok = true;
    const Bytes target = Pattern(64, 9);

    for (const NamedPayload& p : Payloads(target)) {
        ok &= Write(root / "apply", p.name, ApplyInput(0, {}, 0, target, p.bytes));
        ok &= Write(root / "summary", p.name, p.bytes);
    }
    const std::vector<NamedPayload> payloads = Payloads(target);
    auto named = [&payloads](const std::string& name) {
        for (const NamedPayload& p : payloads)
            if (p.name == name) return p.bytes;
        return Bytes();
    };
    const Bytes grow = named("grow");
    ok &= Write(root / "apply", "grow-behind-prefix", ApplyInput(0, {}, 37, target, grow));
    ok &= Write(root / "apply", "crc-answered-ok", ApplyInput(1, {}, 0, target, named("crc-mismatch")));
    const Bytes result = Patched(target, 80, {{3, {1, 2, 3}}, {70, {9}}});
    ok &= Write(root / "apply", "already-patched", ApplyInput(0, {}, 0, result, named("result")));
    ok &= Write(root / "apply", "already-patched-no-crc", ApplyInput(0, {}, 0, result, named("result-no-crc")));
    ok &= Write(root / "apply", "result-answered-ok", ApplyInput(1, {}, 0, Pattern(64, 10), named("result-mismatch")));
    // One fault of each operation, on either side: side and operation, kind, which call.
    for (uint8_t op = 0; op < 7; ++op)
        for (uint8_t side : {uint8_t(0), uint8_t(0x80)})
            ok &= Write(root / "apply", "fault-" + std::to_string(side | op),
                        ApplyInput(3, {static_cast<uint8_t>(side | op), static_cast<uint8_t>(op % 4), 0}, 0, target, grow));
    // The summary's first byte also picks an offset: a payload behind 20 other bytes.
    Bytes behind(20, 0);
    behind[0] = 20;
    Append(behind, grow);
    ok &= Write(root / "summary", "behind-prefix", behind);

    const Bytes image = Pattern(3000, 4);
    ok &= Write(root / "journal", "grow", JournalInput(image, 5000, {{10, 20}, {15, 40}, {900, 1000}, {2990, 4000}}));
    ok &= Write(root / "journal", "shrink", JournalInput(image, 1000, {{0, 5}, {500, 700}, {100, 120}}));
    ok &= Write(root / "journal", "nothing-saved", JournalInput(image, 4000, {{3500, 3600}}));

    const char* versions[] = {"VELK-PATCH3.0", "VELK-PATCH3.0x", "VELK-PATCH 3. 0", "VELK-PATCH+3.-0", "VELK-PATCH2.0",
                              "VELK-PATCH1.5", "VELK-PATCH3.1", "VELK-PATCH7.0", "VELK-PATCH3", "VELK-PATCH3.",
                              "VELK-PATCH99999999999999999999.0", "velk-patch3.0", "VELK-PATCH\t3.0\n"};
    for (size_t i = 0; i < sizeof versions / sizeof *versions; ++i)
        ok &= Write(root / "version", std::to_string(i), Bytes(versions[i], versions[i] + std::strlen(versions[i])));

    const char* paths[] = {"C:\\Games\\Long Folder Name\\disc image.iso", "C:\\Games\\", "\\\\server\\share\\x.bin",
                           "/tmp", "/tmp/", "relative\\name.iso", "C:\\"};
    for (size_t i = 0; i < sizeof paths / sizeof *paths; ++i)
        for (uint8_t which = 0; which < 4; ++which) {
            Bytes in{which, static_cast<uint8_t>(i), 0};
            in.insert(in.end(), paths[i], paths[i] + std::strlen(paths[i]));
            ok &= Write(root / "short_path", std::to_string(i) + "-" + std::to_string(which), in);
        }
    Bytes longPath{3, 1, 0};
    for (int i = 0; i < 40; ++i) {
        const char* name = "\\folder-name";
        longPath.insert(longPath.end(), name, name + std::strlen(name));
    }
    ok &= Write(root / "short_path", "long", longPath);

    Bytes peWithPayload = TinyPe();
    Append(peWithPayload, grow);
    ok &= Write(root / "locator", "pe", peWithPayload);
    ok &= Write(root / "locator", "elf", TinyElf());
    ok &= Write(root / "locator", "bare-payload", grow);

    if (!ok) std::fprintf(stderr, "could not write every seed\n");
    return ok ? 0 : 1;
}
