// The application of a set payload (format/set_format.h) to the folder around its anchor, all
// or nothing (journal/set_journal.h). In order:
//   1. recovery of what an interrupted application of a set left beside the anchor;
//   2. the whole directory and every member's payload read through and checked;
//   3. every member on the disk checked: a file to modify or delete by its size and CRC-32, a
//      file to create by its absence; files already in their result state count as done;
//   4. one question naming the files that did not pass their check; missing files, or files
//      the set cannot touch, are named and nothing changes;
//   5. the set journal, then member after member with its own journal;
//   6. the commit, or, after any failure or a stop, every member put back.
#pragma once

#include <cstdint>
#include <string>

#include "apply/application_steps.h"
#include "apply/message_owner.h"
#include "apply/outcome.h"
#include "file/file_system.h"
#include "format/set_format.h"
#include "journal/set_journal.h"

// What a member of a set is found to be, before anything changes.
enum class VelkMemberState : uint8_t {
    kPending,   // it will change
    kDone,      // it already is what the set makes
    kMismatch,  // it is not what the set expects (the question names it)
    kMissing,   // a file to modify is not there
    kBlocked,   // the set cannot touch it: through a link, not a plain file, an undo file beside it
};

// Hears of every member as the check finds it (velkpatch check).
class CVELK_SetCheckListener {
public:
    virtual ~CVELK_SetCheckListener() {}
    virtual void OnMember(const velk_set::Entry& entry, VelkMemberState state, int64_t size, uint32_t crc) = 0;
};

class CVELK_SetApplication {
public:
    CVELK_SetApplication(CVELK_MessageOwner& owner, CVELK_FileSystem& files, const VelkApplicationSettings& settings,
                         uint8_t* work);
    CVELK_SetApplication(const CVELK_SetApplication&) = delete;
    CVELK_SetApplication& operator=(const CVELK_SetApplication&) = delete;

    // Applies the set at `setOffset` of `source` around the anchor in the folder of `pickedPath`
    // (the file the user picked: the anchor, or any file beside it).
    VelkOutcome Apply(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath);
    // Steps 1 to 4 without changing anything (and without recovering): every member goes to
    // `listener`. kGoOn where the set would apply, otherwise what would end it (kDeclined where
    // the question would be asked).
    VelkOutcome Check(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath,
                      CVELK_SetCheckListener& listener);

    // What became of the files where the set did not succeed.
    VelkTargetFate Fate() const { return m_fate; }
    // The file an outcome is about, or the list of files it names (one a line); empty for the
    // set as a whole.
    const std::u16string& About() const { return m_about; }

private:
    VelkOutcome Open(CVELK_xFile& source, int64_t setOffset, const NativeChar* pickedPath, bool writing);
    VelkOutcome Recover();
    VelkOutcome ReadThrough();
    VelkOutcome CheckMembers(CVELK_SetCheckListener* listener);
    VelkOutcome WriteSetJournal();
    VelkOutcome ApplyMembers();
    VelkOutcome Commit();
    VelkOutcome ApplyMember(const velk_set::Entry& entry, uint32_t crc, bool anchor, CVELK_MessageOwner& owner);
    VelkMemberState Examine(const velk_set::Entry& entry, int64_t* size, uint32_t* crc, VelkOutcome* failure);
    bool ThroughLink(const velk_set::Entry& entry);
    VelkOutcome Conclude(VelkOutcome outcome);
    VelkPath Member(const velk_set::Entry& entry) const;
    void Name(const velk_set::Entry& entry, uint32_t* count);
    void NameMore(uint32_t count);

    CVELK_MessageOwner& m_owner;
    CVELK_FileSystem& m_files;
    const VelkApplicationSettings& m_settings;
    uint8_t* m_work;
    CVELK_xFile* m_source = nullptr;
    int64_t m_setOffset = 0;
    std::unique_ptr<CVELK_xFile> m_anchor;
    std::unique_ptr<CVELK_SetJournal> m_journal;
    VelkPath m_root;  // without its NUL
    uint32_t m_depth = 0;
    // A byte a member: its state from the check (VelkMemberState); and the CRC-32 it was found
    // with, so that no member is read twice.
    std::vector<uint8_t> m_states;
    std::vector<uint32_t> m_crcs;
    int64_t m_checkBytes = 0, m_writeBytes = 0;  // the whole set's, for its progress
    bool m_sealed = false;     // the set journal is sealed: everything after it can be undone
    bool m_changed = false;    // a member may have changed
    bool m_committed = false;
    VelkTargetFate m_fate = VelkTargetFate::kAsItWas;
    std::u16string m_about;
};
