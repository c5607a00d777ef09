#include "cli/set_commands.h"

#include <memory>

#include "apply/application.h"
#include "apply/set_application.h"
#include "cli/check_owner.h"
#include "cli/commands.h"
#include "cli/platform.h"
#include "cli/terminal_escape.h"
#include "cli/terminal_owner.h"
#include "file/file_system.h"
#include "file/folder_list.h"
#include "format/set_format.h"

namespace velk_cli {

namespace {

const char* KindName(velk_set::Kind kind)
{
    switch (kind) {
    case velk_set::Kind::kModify: return "modify";
    case velk_set::Kind::kCreate: return "create";
    case velk_set::Kind::kDelete: return "delete";
    }
    return "?";
}

std::string PathOf(const velk_set::Entry& entry)
{
    return std::string(entry.path, entry.pathBytes);
}

// Prints a line a member of a set as the check finds it.
class CheckLines : public CVELK_SetCheckListener {
public:
    explicit CheckLines(CVELK_CheckOwner& owner) : m_owner(owner) {}
    void OnMember(const velk_set::Entry& entry, VelkMemberState state, int64_t size, uint32_t crc) override
    {
        m_owner.ClearProgress();
        const std::string found = size < 0 ? "" : ": " + SizeAndCrc(size, crc);
        std::string line = "'" + ForStream(Stream::kOut, PathOf(entry)) + "' ";
        switch (state) {
        case VelkMemberState::kPending:
            line += entry.kind == velk_set::Kind::kCreate   ? "will be created"
                    : entry.kind == velk_set::Kind::kDelete ? "will be deleted" + found
                                                            : "applies" + found + " as the patch expects";
            break;
        case VelkMemberState::kDone:
            line += entry.kind == velk_set::Kind::kDelete ? "is already gone" : "is already as the patch makes it" + found;
            break;
        case VelkMemberState::kMismatch: line += "is not the file the patch expects" + found; break;
        case VelkMemberState::kMissing: line += "is missing"; break;
        case VelkMemberState::kBlocked:
            line += "cannot be patched (a link on its way, not a plain file, or an undo file beside it)";
            break;
        }
        WriteText(Stream::kOut, line + "\n");
    }

private:
    CVELK_CheckOwner& m_owner;
};

}  // namespace

std::string DescribeSetBuildError(VelkSetBuildStatus status, const CVELK_SetBuilder& builder,
                                  const CommandLine& command)
{
    const std::string path = "'" + ForStream(Stream::kErr, builder.Problem()) + "'";
    switch (status) {
    case VelkSetBuildStatus::kOriginalUnreadable: return "cannot read " + path + " in ORIGINAL";
    case VelkSetBuildStatus::kModifiedUnreadable: return "cannot read " + path + " in MODIFIED";
    case VelkSetBuildStatus::kNotAFile:
        return path + " is a link, a device or a pipe; a set holds plain files and folders only";
    case VelkSetBuildStatus::kUnsafeName:
        return path + " cannot be named in a set: it is not UTF-8, or not a valid file name on every system";
    case VelkSetBuildStatus::kNameClash:
        return path + " differs from another name only by case, which not every file system can tell apart";
    case VelkSetBuildStatus::kNoChanges: return "ORIGINAL and MODIFIED hold the same files: there is nothing to patch";
    case VelkSetBuildStatus::kNoModifiedFile:
        return "no file is modified in place, so there is no file for the user to pick; a set needs one";
    case VelkSetBuildStatus::kAnchorNotModified:
        return "--anchor " + path + " is not a file that both folders hold and that differs";
    case VelkSetBuildStatus::kFileFailed: return "cannot make the patch of " + path;
    case VelkSetBuildStatus::kOutputWriteFailed:
        return "cannot write OUTPUT " + Quoted(command.output) + " (is the disk full?)";
    case VelkSetBuildStatus::kCancelled: return "interrupted; OUTPUT was not written";
    case VelkSetBuildStatus::kOk: break;
    }
    return std::string();
}

std::string SetCreatedLine(const CVELK_SetBuilder& builder)
{
    const VelkSetStats& stats = builder.Stats();
    return std::to_string(stats.modified) + " modified, " + std::to_string(stats.created) + " created, " +
           std::to_string(stats.deleted) + " deleted; the user picks '" + ForStream(Stream::kOut, stats.anchor) +
           "', payload " + std::to_string(stats.payloadBytes) + " bytes";
}

std::string SetListing(CVELK_xFile& patch, int64_t setOffset)
{
    velk_set::CVELK_SetReader reader(patch, setOffset);
    if (!reader.Start()) return std::string();
    std::unique_ptr<velk_set::Entry> entry(new velk_set::Entry());
    std::string text;
    while (reader.Next(entry.get())) {
        const bool anchor = reader.Index() == reader.SetHeader().anchor;
        text += std::string(KindName(entry->kind)) + " " + PathOf(*entry) + (anchor ? " (the file to pick)" : "");
        if (entry->kind != velk_set::Kind::kCreate)
            text += ": from " + SizeAndCrc(static_cast<int64_t>(entry->originalSize), entry->originalCrc);
        if (entry->kind != velk_set::Kind::kDelete)
            text += std::string(entry->kind == velk_set::Kind::kCreate ? ": to " : " to ") +
                    SizeAndCrc(static_cast<int64_t>(entry->resultSize), entry->resultCrc);
        text += "\n";
    }
    return reader.Failed() ? std::string() : text;
}

NativeString AnchorIn(CVELK_xFile& patch, int64_t setOffset, const NativeString& target)
{
    if (!IsFolder(target)) return target;
    velk_set::CVELK_SetReader reader(patch, setOffset);
    std::unique_ptr<velk_set::Entry> entry(new velk_set::Entry());
    if (!reader.Start()) return target;
    while (reader.Next(entry.get())) {
        if (reader.Index() != reader.SetHeader().anchor) continue;
        return InFolderUtf8(target, entry->path, entry->pathBytes);
    }
    return target;
}

bool FindInterruptedSets(const NativeString& folder, std::vector<NativeString>* anchors)
{
    const NativeString suffix = kSetJournalSuffix;
    std::vector<VelkFolderItem> items;
    if (!ListFolder(folder, &items)) return false;
    bool read = true;
    for (const VelkFolderItem& item : items) {
        const NativeString path = InFolder(folder, item.name);
        if (item.kind == VelkPathKind::kFolder) {
            read = FindInterruptedSets(path, anchors) && read;
        } else if (item.name.size() > suffix.size() &&
                   item.name.compare(item.name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            anchors->push_back(path.substr(0, path.size() - suffix.size()));
        }
    }
    return read;
}

int CheckSet(CVELK_xFile& patch, int64_t setOffset, const NativeString& anchor)
{
    CVELK_CheckOwner owner(IsTerminal(Stream::kErr));
    static uint8_t work[CVELK_IPS_IN::kWorkBufferBytes];
    const VelkApplicationSettings settings = {CVELK_IPS_IN::kStreamMemoryBytes, CVELK_ResultCheck::kRangeCostBytes, true};
    CVELK_SetApplication set(owner, DiskFileSystem(), settings, work);
    CheckLines lines(owner);
    const VelkOutcome outcome = set.Check(patch, setOffset, anchor.c_str(), lines);
    owner.ClearProgress();
    switch (outcome) {
    case VelkOutcome::kGoOn: return kExitOk;
    case VelkOutcome::kAlreadyPatched: return kExitAlreadyPatched;
    case VelkOutcome::kDeclined: return kExitNotExpected;
    case VelkOutcome::kStopped:
        return Failure("interrupted; cannot tell");
    // Named file by file above.
    case VelkOutcome::kSetMissingFiles:
    case VelkOutcome::kSetBlockedFiles: return kExitFailure;
    default: break;
    }
    const char16_t* message = MessageOf(outcome);
    return Failure("cannot tell: " + (message ? TerminalText(message) : std::string("?")));
}

}  // namespace velk_cli
