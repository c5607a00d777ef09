#include "apply/set_application.h"

#include <cstring>

#include "apply/messages.h"
#include "apply/result_check.h"
#include "file/velk_file.h"
#include "format/payload_text.h"

using velk_set::Entry;
using velk_set::Kind;

namespace {

// The names a message lists before it says how many more there are.
constexpr uint32_t kNamesShown = 10;

bool Pending(VelkMemberState state)
{
    return state == VelkMemberState::kPending || state == VelkMemberState::kMismatch;
}

// Shows a member's progress as its share of the whole set's, and passes the stop request on. A
// member asks nothing and shows no message of its own: the set does, once for all.
class CVELK_MemberOwner : public CVELK_MessageOwner {
public:
    CVELK_MemberOwner(CVELK_MessageOwner& owner, VelkProgressStage stage, int64_t base, int64_t share, int64_t total)
        : m_owner(owner), m_stage(stage), m_base(base), m_share(share), m_total(total)
    {
    }
    void ShowMessage(const char16_t*) override {}
    bool AskOkCancel(const char16_t*) override { return false; }
    void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override
    {
        if (stage != m_stage || total <= 0) return;
        const double part = static_cast<double>(done) / static_cast<double>(total);
        m_owner.ReportProgress(m_stage, m_base + static_cast<int64_t>(part * static_cast<double>(m_share)), m_total);
    }
    bool StopRequested() override { return m_owner.StopRequested(); }

private:
    CVELK_MessageOwner& m_owner;
    VelkProgressStage m_stage;
    int64_t m_base, m_share, m_total;
};

// The CRC-32 of a member as a share of the check of the whole set.
class CVELK_CheckPacer : public CVELK_Pacer {
public:
    CVELK_CheckPacer(CVELK_MessageOwner& owner, int64_t base, int64_t total) : m_owner(owner), m_base(base), m_total(total) {}
    void Progress(int64_t done, int64_t) override
    {
        m_owner.ReportProgress(VelkProgressStage::kCrc, m_base + done, m_total > m_base + done ? m_total : m_base + done);
    }
    bool StopRequested() override { return m_owner.StopRequested(); }

private:
    CVELK_MessageOwner& m_owner;
    int64_t m_base, m_total;
};

void AppendUtf16(std::u16string* text, const Entry& entry)
{
    AppendUtf8(text, entry.path, entry.pathBytes);
}

}  // namespace

CVELK_SetApplication::CVELK_SetApplication(CVELK_MessageOwner& owner, CVELK_FileSystem& files,
                                           const VelkApplicationSettings& settings, uint8_t* work)
    : m_owner(owner), m_files(files), m_settings(settings), m_work(work)
{
}

VelkOutcome CVELK_SetApplication::Apply(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath)
{
    VelkOutcome outcome = Open(source, setOffset, pickedPath, true);
    if (outcome == VelkOutcome::kGoOn) outcome = Recover();
    if (outcome == VelkOutcome::kGoOn) outcome = ReadThrough();
    if (outcome == VelkOutcome::kGoOn) outcome = CheckMembers(nullptr);
    if (outcome == VelkOutcome::kGoOn) outcome = WriteSetJournal();
    if (outcome == VelkOutcome::kGoOn) outcome = ApplyMembers();
    if (outcome == VelkOutcome::kGoOn) outcome = Commit();
    return Conclude(outcome);
}

VelkOutcome CVELK_SetApplication::Check(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath,
                                        CVELK_SetCheckListener& listener)
{
    VelkOutcome outcome = Open(source, setOffset, pickedPath, false);
    if (outcome == VelkOutcome::kGoOn) outcome = ReadThrough();
    if (outcome == VelkOutcome::kGoOn) outcome = CheckMembers(&listener);
    return outcome;
}

// What an interrupted application of a set left beside the anchor.
VelkOutcome CVELK_SetApplication::Recover()
{
    const RecoveryOutcome recovery = OutcomeOf(m_journal->Recover(*m_anchor));
    if (recovery == RecoveryOutcome::kRestored) m_owner.Notice(VelkNotice::kRestoredInterrupted);
    return OutcomeOf(recovery);
}

// Every member written and flushed: the commit point, then what the set kept for undoing goes. A
// leftover that cannot be removed now is removed by the next recovery, which finds the set done.
VelkOutcome CVELK_SetApplication::Commit()
{
    if (!m_journal->Commit()) return VelkOutcome::kWriteFailed;
    m_committed = true;
    m_journal->Finish();
    return VelkOutcome::kPatched;
}

VelkOutcome CVELK_SetApplication::Conclude(VelkOutcome outcome)
{
    m_fate = VelkTargetFate::kAsItWas;
    if (m_committed || !m_sealed) return outcome;
    // Before the commit point everything goes back, the members that changed and the journal.
    const bool back = m_journal->RollBack();
    if (m_changed) m_fate = back ? VelkTargetFate::kRestored : VelkTargetFate::kRestoreNextTime;
    return outcome;
}

VelkPath CVELK_SetApplication::Member(const Entry& entry) const
{
    return PathUnder(m_root, entry.path, entry.pathBytes);
}

// The anchor held from before any member is read until the set is done: a second application of
// a set through the same anchor cannot open it meanwhile.
VelkOutcome CVELK_SetApplication::Open(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath,
                                       bool writing)
{
    m_source = &source;
    m_setOffset = setOffset;
    velk_set::CVELK_SetReader reader(source, setOffset);
    if (!reader.Start()) return VelkOutcome::kSetDamaged;
    Entry entry;
    while (reader.Next(&entry) && reader.Index() != reader.SetHeader().anchor) {
    }
    if (reader.Failed() || reader.Index() != reader.SetHeader().anchor) return VelkOutcome::kSetDamaged;
    // The file picked stands for its folder: the anchor is the file of the anchor's name there.
    // A copy of it under another name, picked by mistake, is never patched in its place.
    uint32_t nameStart = entry.pathBytes;
    while (nameStart > 0 && entry.path[nameStart - 1] != '/') --nameStart;
    VelkPath pickedFolder;
    FolderAbove(pickedPath, 0, &pickedFolder);
    const VelkPath anchorPath = PathUnder(pickedFolder, entry.path + nameStart, entry.pathBytes - nameStart);
    // The root is the anchor's folder, less the folders of the anchor's own path.
    m_depth = 0;
    for (uint32_t i = 0; i < entry.pathBytes; ++i) m_depth += entry.path[i] == '/';
    if (!FolderAbove(anchorPath.data(), m_depth, &m_root) || m_files.KindOf(anchorPath.data()) == VelkPathKind::kMissing) {
        m_about = u"\n";
        AppendUtf16(&m_about, entry);
        return VelkOutcome::kSetMissingFiles;
    }
    m_anchor = m_files.Open(anchorPath.data(), writing ? kModeReadWriteExisting : kModeReadExisting, kShareRead);
    if (!m_anchor) return VelkOutcome::kTargetOpenFailed;
    m_journal.reset(new CVELK_SetJournal(m_files, anchorPath.data()));
    return VelkOutcome::kGoOn;
}

// Everything a crafted set could get wrong is found before any file is touched: the directory,
// and every payload read through as its application would read it, agreeing with its entry.
VelkOutcome CVELK_SetApplication::ReadThrough()
{
    velk_set::CVELK_SetReader reader(*m_source, m_setOffset);
    if (!reader.Start()) return VelkOutcome::kSetDamaged;
    Entry entry;
    uint32_t count = 0;
    while (reader.Next(&entry)) {
        ++count;
        if (entry.kind == Kind::kDelete) continue;
        CVELK_ApplicationSteps steps(m_owner, m_settings, *m_source, *m_anchor,
                                     m_setOffset + static_cast<int64_t>(entry.payloadOffset), nullptr, m_work);
        if (steps.CheckPayload() != VelkOutcome::kGoOn) return VelkOutcome::kSetDamaged;
        const VelkPayloadHeader& header = steps.Header();
        const uint32_t expectedCrc = entry.kind == Kind::kModify ? entry.originalCrc : 0;
        if (!header.hasIdentity || header.identity.resultCrc != entry.resultCrc ||
            header.identity.originalSize != entry.originalSize || header.targetCrc != expectedCrc ||
            header.patchedSize != static_cast<int64_t>(entry.resultSize))
            return VelkOutcome::kSetDamaged;
    }
    if (reader.Failed()) return VelkOutcome::kSetDamaged;
    m_states.assign(count, 0);
    m_crcs.assign(count, 0);
    return VelkOutcome::kGoOn;
}

// Whether a folder on the member's way is not a plain folder: a link could lead out of the root.
bool CVELK_SetApplication::ThroughLink(const Entry& entry)
{
    for (uint32_t i = 0; i < entry.pathBytes; ++i) {
        if (entry.path[i] != '/') continue;
        const VelkPath folder = PathUnder(m_root, entry.path, i);
        const VelkPathKind kind = m_files.KindOf(folder.data());
        if (kind == VelkPathKind::kMissing) return false;
        if (kind != VelkPathKind::kFolder) return true;
    }
    return false;
}

VelkMemberState CVELK_SetApplication::Examine(const Entry& entry, int64_t* size, uint32_t* crc, VelkOutcome* failure)
{
    *size = -1;
    *crc = 0;
    const VelkPath member = Member(entry);
    if (ThroughLink(entry)) return VelkMemberState::kBlocked;
    // Names the set will use beside the member must be free.
    const VelkPath undo = CVELK_UndoJournal::JournalPathOf(m_files, member.data());
    const VelkPath removed = CVELK_SetJournal::RemovedPath(member.data());
    if (m_files.Exists(undo.data()) || m_files.Exists(removed.data())) return VelkMemberState::kBlocked;
    const VelkPathKind kind = m_files.KindOf(member.data());
    if (kind == VelkPathKind::kMissing) {
        return entry.kind == Kind::kModify   ? VelkMemberState::kMissing
               : entry.kind == Kind::kCreate ? VelkMemberState::kPending
                                             : VelkMemberState::kDone;
    }
    if (kind != VelkPathKind::kFile) return VelkMemberState::kBlocked;

    // Its size and CRC-32, the progress counted over the whole set's check. Opened sharing
    // writing, so that the anchor, which this application holds, opens too.
    const std::unique_ptr<CVELK_xFile> file = m_files.Open(member.data(), kModeReadExisting, kShareReadWrite);
    if (!file) return VelkMemberState::kBlocked;
    *size = file->GetSize();
    CVELK_CheckPacer pacer(m_owner, m_checkBytes, m_checkBytes + *size);
    *failure = OutcomeOf(StretchCrc(*file, 0, *size, &pacer, crc));
    if (*failure != VelkOutcome::kGoOn) return VelkMemberState::kBlocked;
    m_checkBytes += *size;
    const auto original = static_cast<int64_t>(entry.originalSize), result = static_cast<int64_t>(entry.resultSize);
    if (entry.kind != Kind::kCreate && *size == original && *crc == entry.originalCrc) return VelkMemberState::kPending;
    if (entry.kind != Kind::kDelete && *size == result && *crc == entry.resultCrc) return VelkMemberState::kDone;
    return VelkMemberState::kMismatch;
}

void CVELK_SetApplication::Name(const Entry& entry, uint32_t* count)
{
    if (++*count > kNamesShown) return;
    m_about += u"\n";
    AppendUtf16(&m_about, entry);
}

void CVELK_SetApplication::NameMore(uint32_t count)
{
    if (count <= kNamesShown) return;
    m_about += u"\n";
    m_about += velk_messages::kSetMoreBefore;
    m_about += DecimalText(count);
    m_about += velk_messages::kSetMoreAfter;
}

VelkOutcome CVELK_SetApplication::CheckMembers(CVELK_SetCheckListener* listener)
{
    velk_set::CVELK_SetReader reader(*m_source, m_setOffset);
    if (!reader.Start()) return VelkOutcome::kSetDamaged;
    Entry entry;
    uint32_t missing = 0, blocked = 0, mismatched = 0, pending = 0;
    std::u16string missingNames, blockedNames, mismatchedNames;
    m_checkBytes = 0;
    while (reader.Next(&entry)) {
        int64_t size = -1;
        uint32_t crc = 0;
        VelkOutcome failure = VelkOutcome::kGoOn;
        const VelkMemberState state = Examine(entry, &size, &crc, &failure);
        if (failure != VelkOutcome::kGoOn) {
            m_about.clear();
            AppendUtf16(&m_about, entry);
            return failure;
        }
        m_states[reader.Index()] = static_cast<uint8_t>(state);
        m_crcs[reader.Index()] = crc;
        if (listener) listener->OnMember(entry, state, size, crc);
        std::u16string* names = nullptr;
        uint32_t* count = nullptr;
        switch (state) {
        case VelkMemberState::kMissing: names = &missingNames, count = &missing; break;
        case VelkMemberState::kBlocked: names = &blockedNames, count = &blocked; break;
        case VelkMemberState::kMismatch: names = &mismatchedNames, count = &mismatched; break;
        case VelkMemberState::kPending: ++pending; break;
        case VelkMemberState::kDone: break;
        }
        if (names) {
            m_about.swap(*names);
            Name(entry, count);
            m_about.swap(*names);
        }
        if (Pending(state) && entry.kind != Kind::kDelete) m_writeBytes += static_cast<int64_t>(entry.payloadBytes);
    }
    if (reader.Failed()) return VelkOutcome::kSetDamaged;
    const struct {
        uint32_t count;
        std::u16string* names;
        VelkOutcome outcome;
    } problems[] = {{missing, &missingNames, VelkOutcome::kSetMissingFiles},
                    {blocked, &blockedNames, VelkOutcome::kSetBlockedFiles}};
    for (const auto& problem : problems) {
        if (problem.count == 0) continue;
        m_about.swap(*problem.names);
        NameMore(problem.count);
        return problem.outcome;
    }
    if (pending == 0 && mismatched == 0) return VelkOutcome::kAlreadyPatched;
    if (mismatched == 0) return VelkOutcome::kGoOn;
    m_about = velk_messages::kSetCrcQuestion;
    m_about += mismatchedNames;
    NameMore(mismatched);
    if (listener) return VelkOutcome::kDeclined;
    const bool ok = m_owner.AskOkCancel(m_about.c_str());
    m_about.clear();
    return ok ? VelkOutcome::kGoOn : VelkOutcome::kDeclined;
}

// The set journal names every member that will change, and every folder the set will make, before
// any change.
VelkOutcome CVELK_SetApplication::WriteSetJournal()
{
    if (!m_journal->Begin(*m_anchor, m_depth)) return VelkOutcome::kNoUndoFile;
    velk_set::CVELK_SetReader reader(*m_source, m_setOffset);
    if (!reader.Start()) return VelkOutcome::kSetDamaged;
    Entry entry;
    // The folders recorded so far that the entries still lie in: each a prefix of the deepest,
    // since the entries below one folder follow each other.
    char deepest[velk_set::kMaxPathBytes];
    std::vector<uint32_t> made;
    bool written = true;
    while (written && reader.Next(&entry)) {
        const auto state = static_cast<VelkMemberState>(m_states[reader.Index()]);
        if (!Pending(state)) continue;
        while (!made.empty() && (entry.pathBytes <= made.back() || entry.path[made.back()] != '/' ||
                                 std::memcmp(entry.path, deepest, made.back()) != 0))
            made.pop_back();
        for (uint32_t slash = 0; written && slash < entry.pathBytes; ++slash) {
            if (entry.path[slash] != '/' || (!made.empty() && slash <= made.back())) continue;
            const VelkPath folder = PathUnder(m_root, entry.path, slash);
            if (m_files.KindOf(folder.data()) != VelkPathKind::kMissing) continue;
            written = m_journal->Add(SetRecordKind::kFolder, entry.path, slash);
            std::memcpy(deepest, entry.path, slash);
            made.push_back(slash);
        }
        written = written && m_journal->Add(static_cast<SetRecordKind>(entry.kind), entry.path, entry.pathBytes,
                                            reader.Index() == reader.SetHeader().anchor);
    }
    if (!written || reader.Failed() || !m_journal->Seal()) {
        m_journal->Abandon();
        return VelkOutcome::kNoUndoFile;
    }
    m_sealed = true;
    return VelkOutcome::kGoOn;
}

VelkOutcome CVELK_SetApplication::ApplyMembers()
{
    velk_set::CVELK_SetReader reader(*m_source, m_setOffset);
    if (!reader.Start()) return VelkOutcome::kSetDamaged;
    Entry entry;
    int64_t done = 0;
    while (reader.Next(&entry)) {
        const auto state = static_cast<VelkMemberState>(m_states[reader.Index()]);
        if (!Pending(state)) continue;
        if (m_owner.StopRequested()) return VelkOutcome::kStopped;
        m_about.clear();
        AppendUtf16(&m_about, entry);
        m_changed = true;
        const VelkPath member = Member(entry);
        // The folders it lies in, where the set makes them.
        for (uint32_t i = 0; i < entry.pathBytes; ++i) {
            if (entry.path[i] != '/') continue;
            const VelkPath folder = PathUnder(m_root, entry.path, i);
            // Its name made durable in the folder above, or a power cut after the commit could
            // take the folder, and the files in it, away.
            if (m_files.KindOf(folder.data()) == VelkPathKind::kMissing &&
                (!m_files.CreateFolder(folder.data()) || !m_files.SyncFolderOf(folder.data())))
                return VelkOutcome::kWriteFailed;
        }
        // A file that goes, or that a created file takes the place of, is moved aside until the commit.
        if (entry.kind != Kind::kModify && m_files.KindOf(member.data()) == VelkPathKind::kFile) {
            const VelkPath removed = CVELK_SetJournal::RemovedPath(member.data());
            if (!m_files.MoveAside(member.data(), removed.data()) || !m_files.SyncFolderOf(member.data()))
                return VelkOutcome::kWriteFailed;
        }
        if (entry.kind == Kind::kDelete) continue;
        CVELK_MemberOwner owner(m_owner, VelkProgressStage::kRecords, done, static_cast<int64_t>(entry.payloadBytes),
                                m_writeBytes);
        const bool anchor = reader.Index() == reader.SetHeader().anchor;
        const VelkOutcome outcome = ApplyMember(entry, m_crcs[reader.Index()], anchor, owner);
        if (outcome != VelkOutcome::kPatched) return outcome;
        done += static_cast<int64_t>(entry.payloadBytes);
    }
    if (reader.Failed()) return VelkOutcome::kSetDamaged;
    m_about.clear();
    return VelkOutcome::kGoOn;
}

// One member, as a single application of its payload would go, with a journal that waits for the
// set's commit. A created file is made first, empty, as a new file; the anchor is held already,
// any other member is held while it is written.
VelkOutcome CVELK_SetApplication::ApplyMember(const Entry& entry, uint32_t crc, bool anchor, CVELK_MessageOwner& owner)
{
    const VelkPath member = Member(entry);
    std::unique_ptr<CVELK_xFile> opened;
    if (entry.kind == Kind::kCreate)
        opened = m_files.CreateNew(member.data(), CVELK_File::kNewFilePermissions);
    else if (!anchor)
        opened = m_files.Open(member.data(), kModeReadWriteExisting, kShareRead);
    CVELK_xFile* target = anchor ? m_anchor.get() : opened.get();
    if (!target) return VelkOutcome::kTargetOpenFailed;
    CVELK_UndoJournal journal(m_files, member.data());
    journal.JoinSet(m_journal->Nonce());
    CVELK_ApplicationSteps steps(owner, m_settings, *m_source, *target,
                                 m_setOffset + static_cast<int64_t>(entry.payloadOffset), &journal, m_work);
    steps.ApplyAsSetMember(crc);
    const VelkOutcome outcome = steps.Run();
    if (outcome != VelkOutcome::kPatched) steps.Conclude(outcome);
    return outcome;
}
