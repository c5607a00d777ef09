#include "journal/set_journal.h"

#include <cstring>

#include "crc/crc32.h"
#include "file/io.h"
#include "file/relative_path.h"
#include "file/velk_file.h"
#include "journal/journal_format.h"
#include "journal/undo_journal.h"

namespace {

constexpr char kMagic[16] = "VELK-SETUNDO-1";
constexpr uint32_t kHeaderBytes = 128;
constexpr uint32_t kRecordHeaderBytes = 8;
constexpr uint32_t kMaxPathBytes = 1024;
enum : uint32_t { kWriting = 1, kSealed = 2, kCommitting = 3 };
// A record's flags: the member is the anchor, which the application and recovery hold open.
constexpr uint8_t kAnchorFlag = 1;

}  // namespace

struct CVELK_SetJournal::Header {
    uint64_t nonce = 0;
    uint32_t state = 0;
    uint32_t depth = 0;
    uint32_t records = 0;
    uint64_t recordBytes = 0;
    uint32_t recordsCrc = 0;
    uint64_t volume = 0, index = 0;
};

CVELK_SetJournal::CVELK_SetJournal(CVELK_FileSystem& files, const NativeChar* anchorPath)
    // The members lie around the anchor itself, where a link to it leads; so does the journal.
    : m_files(files), m_anchor(ResolvedPath(files, anchorPath)), m_path(WithSuffix(m_anchor.data(), kSetJournalSuffix))
{
}

CVELK_SetJournal::~CVELK_SetJournal()
{
    if (m_file && !m_sealed) Abandon();
}

VelkPath CVELK_SetJournal::RemovedPath(const NativeChar* member)
{
    return WithSuffix(member, kRemovedSuffix);
}

VelkPath CVELK_SetJournal::MemberPath(const char* path, size_t bytes) const
{
    return PathUnder(m_root, path, bytes);
}

bool CVELK_SetJournal::WriteHeader(uint32_t state)
{
    uint8_t bytes[kHeaderBytes] = {};
    std::memcpy(bytes, kMagic, sizeof kMagic);
    velk_io::StoreLE(bytes + 16, m_nonce, 8);
    velk_io::StoreLE(bytes + 24, state, 4);
    velk_io::StoreLE(bytes + 28, m_records, 4);
    velk_io::StoreLE(bytes + 32, m_recordBytes, 8);
    velk_io::StoreLE(bytes + 40, m_recordsCrc, 4);
    velk_io::StoreLE(bytes + 44, m_depth, 4);
    velk_io::StoreLE(bytes + 48, m_volume, 8);
    velk_io::StoreLE(bytes + 56, m_index, 8);
    velk_io::SealWithCrc(bytes, kHeaderBytes);
    return m_file->Seek(0) && velk_io::WriteFully(*m_file, bytes, kHeaderBytes) && m_file->Flush();
}

bool CVELK_SetJournal::Begin(CVELK_xFile& anchor, uint32_t depth)
{
    m_anchorFile = &anchor;
    m_depth = depth;
    if (!FolderAbove(m_anchor.data(), depth, &m_root)) return false;
    VelkFileFacts facts;
    const bool known = anchor.Describe(&facts);
    m_file = m_files.CreateNew(m_path.data(), (known ? facts.permissions & 0644 : 0) | 0600);
    if (!m_file) return false;
    m_nonce = NewJournalNonce(this);
    if (known) {
        m_volume = facts.volume;
        m_index = facts.index;
    }
    // Durable before anything else is written, as a member's journal is (undo_journal.h).
    if (WriteHeader(kWriting)) return true;
    Abandon();
    return false;
}

bool CVELK_SetJournal::Add(SetRecordKind kind, const char* path, size_t bytes, bool anchor)
{
    uint8_t record[kRecordHeaderBytes + kMaxPathBytes];
    if (bytes > kMaxPathBytes) return false;
    const auto length = static_cast<uint32_t>(kRecordHeaderBytes + bytes);
    velk_io::StoreLE(record, length, 4);
    record[4] = static_cast<uint8_t>(kind);
    record[5] = anchor ? kAnchorFlag : 0;
    velk_io::StoreLE(record + 6, bytes, 2);
    std::memcpy(record + kRecordHeaderBytes, path, bytes);
    if (!m_file->Seek(static_cast<int64_t>(kHeaderBytes + m_recordBytes)) ||
        !velk_io::WriteFully(*m_file, record, length))
        return false;
    m_recordsCrc = m_recordsSum.Update(record, length);
    m_recordBytes += length;
    ++m_records;
    return true;
}

bool CVELK_SetJournal::Seal()
{
    // The records, then the header that vouches for them, then the journal's name.
    if (!m_file->Flush() || !WriteHeader(kSealed) || !m_files.SyncFolderOf(m_path.data())) return false;
    m_sealed = true;
    return true;
}

bool CVELK_SetJournal::Commit()
{
    m_commitTried = true;
    return WriteHeader(kCommitting);
}

void CVELK_SetJournal::Abandon()
{
    m_sealed = false;
    if (m_file) RemoveJournal();
}

bool CVELK_SetJournal::RemoveJournal()
{
    m_file.reset();
    if (!m_files.Remove(m_path.data())) return false;
    m_files.SyncFolderOf(m_path.data());
    return true;
}

bool CVELK_SetJournal::Finish()
{
    Header header;
    header.nonce = m_nonce;
    header.records = m_records;
    header.recordBytes = m_recordBytes;
    if (!m_file || !CleanUp(header)) return false;
    m_sealed = false;
    return RemoveJournal();
}

bool CVELK_SetJournal::RollBack()
{
    Header header;
    header.nonce = m_nonce;
    header.records = m_records;
    header.recordBytes = m_recordBytes;
    // A commit that failed may have reached the disk all the same: the journal must say SEALED
    // again before any member goes back, or recovery would complete a set half put back. Where
    // it cannot, everything stays for recovery, which finds the set whole one way or the other.
    if (!m_file || (m_commitTried && !WriteHeader(kSealed)) || !PutBack(header)) return false;
    m_sealed = false;
    return RemoveJournal();
}

template <class Visit>
bool CVELK_SetJournal::WalkRecords(const Header& header, Visit&& visit, _m_CRC32* sum)
{
    uint8_t record[kRecordHeaderBytes + kMaxPathBytes + 1];
    uint64_t at = 0;
    for (uint32_t i = 0; i < header.records; ++i) {
        if (header.recordBytes - at < kRecordHeaderBytes ||
            velk_io::ReadFullyAt(*m_file, static_cast<int64_t>(kHeaderBytes + at), record, kRecordHeaderBytes) !=
                kRecordHeaderBytes)
            return false;
        const auto length = static_cast<uint32_t>(velk_io::LoadLE(record, 4));
        const auto bytes = static_cast<uint32_t>(velk_io::LoadLE(record + 6, 2));
        if (length != kRecordHeaderBytes + bytes || bytes > kMaxPathBytes || header.recordBytes - at < length ||
            velk_io::ReadFullyAt(*m_file, static_cast<int64_t>(kHeaderBytes + at + kRecordHeaderBytes),
                                 record + kRecordHeaderBytes, bytes) != bytes)
            return false;
        at += length;
        if (sum) sum->Update(record, length);
        const auto kind = static_cast<SetRecordKind>(record[4]);
        const char* path = reinterpret_cast<const char*>(record + kRecordHeaderBytes);
        if (record[5] > kAnchorFlag) return false;
        if (!visit(kind, path, static_cast<size_t>(bytes), record[5] == kAnchorFlag)) return false;
    }
    return at == header.recordBytes;
}

SetRecovery CVELK_SetJournal::Recover(CVELK_xFile& anchor)
{
    m_anchorFile = &anchor;
    if (!m_files.Exists(m_path.data())) return SetRecovery::kNothingPending;
    m_file = m_files.OpenExistingRegular(m_path.data());
    if (!m_file) return SetRecovery::kUnusable;
    uint8_t bytes[kHeaderBytes] = {};
    const int64_t size = m_file->GetSize();
    const auto available = static_cast<uint32_t>(size < 0 ? 0 : size < kHeaderBytes ? size : kHeaderBytes);
    if (!IsTrustedJournal(m_files, *m_file, anchor) || size < 0 ||
        velk_io::ReadFullyAt(*m_file, 0, bytes, available) != available) {
        m_file.reset();
        return SetRecovery::kUnusable;
    }
    // What a power cut leaves of a journal as it is made: nothing, zeros, the magic's start.
    if (velk_journal::IsUnwrittenStart(bytes, available, kHeaderBytes, kMagic, sizeof kMagic))
        return RemoveJournal() ? SetRecovery::kDiscarded : SetRecovery::kUnusable;
    Header header;
    header.nonce = velk_io::LoadLE(bytes + 16, 8);
    header.state = static_cast<uint32_t>(velk_io::LoadLE(bytes + 24, 4));
    header.records = static_cast<uint32_t>(velk_io::LoadLE(bytes + 28, 4));
    header.recordBytes = velk_io::LoadLE(bytes + 32, 8);
    header.recordsCrc = static_cast<uint32_t>(velk_io::LoadLE(bytes + 40, 4));
    header.depth = static_cast<uint32_t>(velk_io::LoadLE(bytes + 44, 4));
    header.volume = velk_io::LoadLE(bytes + 48, 8);
    header.index = velk_io::LoadLE(bytes + 56, 8);
    VelkFileFacts facts;
    const bool belongs = header.index == 0 || (anchor.Describe(&facts) && facts.index == header.index &&
                                               facts.volume == header.volume);
    if (available < kHeaderBytes || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
        !velk_io::CrcHolds(bytes, kHeaderBytes) || header.state < kWriting ||
        header.state > kCommitting || !belongs || !FolderAbove(m_anchor.data(), header.depth, &m_root)) {
        m_file.reset();
        return SetRecovery::kUnusable;
    }
    // Written before any member changed.
    if (header.state == kWriting) return RemoveJournal() ? SetRecovery::kDiscarded : SetRecovery::kUnusable;

    // A sealed journal must be whole to be acted on: its records' length and checksum.
    _m_CRC32 sum;
    const bool whole = header.recordBytes == static_cast<uint64_t>(size) - kHeaderBytes &&
                       WalkRecords(
                           header,
                           [&](SetRecordKind kind, const char* path, size_t pathBytes, bool isAnchor) {
                               return IsSafeRelativePath(path, pathBytes, kMaxPathBytes) &&
                                      kind >= SetRecordKind::kModify && kind <= SetRecordKind::kFolder &&
                                      (!isAnchor || kind == SetRecordKind::kModify);
                           },
                           &sum) &&
                       sum.Value() == header.recordsCrc;
    if (!whole) {
        m_file.reset();
        return SetRecovery::kDamaged;
    }
    const bool committed = header.state == kCommitting;
    const bool done = committed ? CleanUp(header) : PutBack(header);
    if (!done) {
        m_file.reset();
        return SetRecovery::kFailed;
    }
    if (!RemoveJournal()) return SetRecovery::kFailed;
    return committed ? SetRecovery::kCompleted : SetRecovery::kRestored;
}

// Every member back as it was before the set; a member that cannot be makes the whole fail, but
// the others are put back all the same.
bool CVELK_SetJournal::PutBack(const Header& header)
{
    bool all = true;
    const bool read = WalkRecords(header, [&](SetRecordKind kind, const char* path, size_t bytes, bool anchor) {
        if (kind == SetRecordKind::kFolder) return true;
        const VelkPath member = MemberPath(path, bytes);
        const VelkPath removed = RemovedPath(member.data());
        if (kind != SetRecordKind::kDelete && m_files.KindOf(member.data()) != VelkPathKind::kFile) {
            // A member that is gone can only be put back with its journal's help: none must be left.
            if (m_files.KindOf(CVELK_UndoJournal::JournalPathOf(m_files, member.data()).data()) != VelkPathKind::kMissing)
                all = false;
        } else if (kind != SetRecordKind::kDelete) {
            // The anchor is held already; any other member is held while it is put back.
            std::unique_ptr<CVELK_xFile> opened;
            if (!anchor) opened = m_files.Open(member.data(), kModeReadWriteExisting, kShareRead);
            CVELK_xFile* file = anchor ? m_anchorFile : opened.get();
            if (!file) {
                all = false;
                return true;
            }
            CVELK_UndoJournal journal(m_files, member.data());
            journal.JoinSet(header.nonce);
            const RecoveryOutcome outcome = journal.Recover(*file);
            const bool undone = outcome == RecoveryOutcome::kNothingPending || outcome == RecoveryOutcome::kDiscarded ||
                                outcome == RecoveryOutcome::kRestored;
            // A created file goes once its journal has taken it back to nothing; one made but
            // not yet written has no journal and no bytes.
            const bool made = kind == SetRecordKind::kCreate;
            const int64_t size = file->GetSize();
            if (!undone || (made && size != 0)) {
                all = false;
                return true;
            }
            opened.reset();  // Windows removes no file that is open
            if (made && !m_files.Remove(member.data())) all = false;
        }
        // What stood at the name before the set comes back to it.
        if (kind != SetRecordKind::kModify && m_files.KindOf(removed.data()) == VelkPathKind::kFile) {
            if (!m_files.MoveAside(removed.data(), member.data())) all = false;
        }
        m_files.SyncFolderOf(member.data());
        return true;
    });
    // Folders the set made, once empty: the deepest go first, one round a level.
    for (bool removedOne = true; read && removedOne;) {
        removedOne = false;
        WalkRecords(header, [&](SetRecordKind kind, const char* path, size_t bytes, bool) {
            if (kind != SetRecordKind::kFolder) return true;
            const VelkPath folder = MemberPath(path, bytes);
            if (m_files.KindOf(folder.data()) == VelkPathKind::kFolder && m_files.RemoveFolder(folder.data())) {
                removedOne = true;
                m_files.SyncFolderOf(folder.data());
            }
            return true;
        });
    }
    return read && all;
}

// The set is complete: what it kept for undoing goes.
bool CVELK_SetJournal::CleanUp(const Header& header)
{
    bool all = true;
    // A path in every folder where something was removed: each folder is synced once, when all is
    // removed, and before the set journal goes.
    std::vector<VelkPath> touched;
    const auto touch = [&](const VelkPath& path) {
        VelkPath folder, other;
        FolderAbove(path.data(), 0, &folder);
        for (const VelkPath& seen : touched)
            if (FolderAbove(seen.data(), 0, &other) && other == folder) return;
        touched.push_back(path);
    };
    const bool read = WalkRecords(header, [&](SetRecordKind kind, const char* path, size_t bytes, bool) {
        if (kind == SetRecordKind::kFolder) return true;
        const VelkPath member = MemberPath(path, bytes);
        if (kind != SetRecordKind::kDelete) {
            CVELK_UndoJournal journal(m_files, member.data());
            journal.JoinSet(header.nonce);
            if (!journal.ReleaseMember(false)) all = false;
            touch(member);
        }
        if (kind != SetRecordKind::kModify) {
            const VelkPath removed = RemovedPath(member.data());
            if (m_files.KindOf(removed.data()) == VelkPathKind::kFile) {
                if (!m_files.Remove(removed.data())) all = false;
                touch(member);
            }
        }
        return true;
    });
    for (const VelkPath& path : touched) all = m_files.SyncFolderOf(path.data()) && all;
    return read && all;
}
