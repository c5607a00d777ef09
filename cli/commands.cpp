#include "cli/commands.h"

#include <cstdio>
#include <memory>
#include <new>

#include "apply/application.h"
#include "apply/messages.h"
#include "cli/check_owner.h"
#include "cli/description.h"
#include "cli/pending_output.h"
#include "cli/platform.h"
#include "cli/set_commands.h"
#include "cli/terminal_escape.h"
#include "cli/terminal_owner.h"
#include "file/io.h"
#include "file/folder_list.h"
#include "file/io_buffer.h"
#include "file/velk_file.h"
#include "format/payload_locator.h"
#include "format/set_format.h"
#include "format/summary.h"
#include "maker/patch_builder.h"
#include "maker/pe_signature.h"

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

namespace velk_cli {

namespace {

// A set is put back whole while it is applied, by its own journal; it keeps nothing to take it
// back later.
constexpr char kSetKeepsNoUndo[] = "a set keeps no undo journal: --keep-undo and undo are for single-file patches";

// The patcher's file name, as the builds and the packages place it.
const char* StubName(StubArchitecture architecture)
{
    return architecture == StubArchitecture::kX86 ? "velkstub-x86.exe" : "velkstub.exe";
}

}  // namespace

int Failure(const std::string& text)
{
    WriteText(Stream::kErr, "velkpatch: " + text + "\n");
    return kExitFailure;
}

std::string Quoted(const NativeString& path, Stream stream)
{
    return "'" + ForStream(stream, Display(path)) + "'";
}

namespace {

std::string Count(uint64_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The text is the whole work of info, --help and --version: when it cannot be written, they fail.
int PrintResult(const std::string& text)
{
    return WriteText(Stream::kOut, text) ? kExitOk : Failure("cannot write to standard output");
}

// Create's progress: the patch is written while both inputs are compared; stopping is
// possible at every block, and an interrupt stops it.
class CreateProgress : public CVELK_BuildProgress {
public:
    explicit CreateProgress(ProgressLine& line) : m_line(line) {}
    bool OnProgress(int64_t done, int64_t total) override
    {
        m_line.Show("Creating", done, total);
        return !Interrupted();
    }

private:
    ProgressLine& m_line;
};

enum class CopyResult { kOk, kStubReadFailed, kOutputWriteFailed };

// Copies the executable part of the stub: all of a fresh patcher, or the patcher in front of
// an older patch's payload, without the signature that covered that payload.
CopyResult CopyStub(CVELK_File& stub, int64_t length, CVELK_xFile& output)
{
    constexpr uint32_t kChunk = 1u << 20;
    const CVELK_IoBuffer buffer(kChunk);
    if (!buffer || !stub.Seek(0)) return CopyResult::kStubReadFailed;
    for (int64_t left = length; left > 0;) {
        const uint32_t n = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
        if (velk_io::ReadFully(stub, buffer.Data(), n) != n) return CopyResult::kStubReadFailed;
        if (output.Write(buffer.Data(), n) != n) return CopyResult::kOutputWriteFailed;
        left -= n;
    }
    return RemovePeSignature(output, length) < 0 ? CopyResult::kOutputWriteFailed : CopyResult::kOk;
}

std::string DescribeDescriptionError(const DescriptionResult& result, const NativeString& path)
{
    switch (result.status) {
    case DescriptionStatus::kNotUtf8:
        return "description " + Quoted(path) + " is not valid UTF-8 (at byte " + std::to_string(result.badByte) +
               ")";
    case DescriptionStatus::kContainsNul:
        return "description " + Quoted(path) + " contains a NUL character (at byte " +
               std::to_string(result.badByte) + ")";
    default:
        return "description " + Quoted(path) + " is too long: " + std::to_string(result.units) +
               " UTF-16 units with CR LF line ends, at most " + std::to_string(kMaxDescriptionUnits) + " fit";
    }
}

// The patch program's three summary lines, and a fourth with the result's CRC-32 when the
// payload records it.
std::string SummaryText(const CQM_DravInfo& info)
{
    std::string text = TerminalText(info.FormatSummary()) + "\n";
    const std::u16string resultLine = info.FormatResultLine();
    if (!resultLine.empty()) text += TerminalText(resultLine) + "\n";
    return text;
}

int64_t PayloadOffsetOf(const NativeString& patch)
{
    // A file that cannot be examined is handed on at offset 0: the application then reports the
    // failed open in its own words.
    const int64_t offset = FindPayloadOffset(patch.c_str());
    return offset < 0 ? 0 : offset;
}

// Opens an input of create. Only a regular file says by its size how much it holds; a pipe, a
// device or a folder is refused rather than read as something else (or, for the stub, found
// unseekable halfway).
std::string OpenInput(const NativeString& path, const std::string& role, CVELK_File* file)
{
    if (KindOfFile(path) == FileKind::kOther)
        return role + " " + Quoted(path) + " is not a regular file (a pipe, a device or a folder); save it to one first";
    if (!file->OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return "cannot open " + role + " " + Quoted(path);
    return std::string();
}

// The patcher create puts in front of the payload: --stub, or the one installed with velkpatch.
std::string FindStub(const CommandLine& command, NativeString* stubPath)
{
    if (command.hasStub) {
        *stubPath = command.stub;
        return std::string();
    }
    if (command.payloadOnly) return std::string();
    const std::vector<NativeString> candidates = StubCandidates(ExecutableFolder(), command.stubArchitecture);
    for (const NativeString& candidate : candidates) {
        if (FileExists(candidate)) {
            *stubPath = candidate;
            return std::string();
        }
    }
    return std::string("no patcher found (looked for ") + StubName(command.stubArchitecture) +
           (candidates.empty() ? std::string() : " at " + Quoted(candidates[0])) +
           "); name one with --stub FILE or write a bare payload with --payload-only";
}

// OUTPUT is replaced only by a regular file, and never when it is one of the inputs, however
// it is spelled.
std::string CheckOutput(const CommandLine& command, const NativeString& stubPath)
{
    const FileKind kind = KindOfFile(command.output);
    if (kind == FileKind::kOther)
        return "OUTPUT " + Quoted(command.output) + " is not a regular file; refusing to replace it";
    if (kind == FileKind::kUnknown) return "cannot examine OUTPUT " + Quoted(command.output);
    const struct {
        const char* role;
        const NativeString* path;
    } inputs[] = {{"ORIGINAL", &command.original},
                  {"MODIFIED", &command.modified},
                  {"the stub", &stubPath},
                  {"the description", &command.description}};
    for (const auto& input : inputs) {
        if (input.path->empty()) continue;
        const Sameness same = SameFile(command.output, *input.path);
        if (same == Sameness::kSame)
            return "OUTPUT " + Quoted(command.output) + " is " + input.role + "; refusing to overwrite it";
        if (same == Sameness::kUnknown)
            return "cannot tell whether OUTPUT " + Quoted(command.output) + " is " + input.role;
    }
    return std::string();
}

// The description as the payload carries it. The file may be a pipe (--description <(...)):
// it is read to its end.
std::string ReadDescription(const NativeString& path, std::u16string* description)
{
    // Anything past this many bytes cannot fit in 32767 UTF-16 units.
    const size_t limit = 3 + 4 * kMaxDescriptionUnits;
    std::string bytes;
    if (!ReadSmallFile(path, limit, &bytes)) return "cannot read the description " + Quoted(path);
    if (bytes.size() > limit)
        return "description " + Quoted(path) + " is too long: at most " + std::to_string(kMaxDescriptionUnits) +
               " UTF-16 units fit";
    const DescriptionResult result = ConvertDescription(bytes);
    if (result.status != DescriptionStatus::kOk) return DescribeDescriptionError(result, path);
    *description = result.text;
    return std::string();
}

// How much of the stub is the patch program: all of it up to a payload it already carries.
std::string MeasureStub(const NativeString& path, CVELK_File* stub, int64_t* length)
{
    const std::string error = OpenInput(path, "the stub", stub);
    if (!error.empty()) return error;
    *length = FindPayloadOffset(*stub);
    if (*length <= 0) return "the stub " + Quoted(path) + " is not an executable the patch could run as";
    // Headers that describe more than the file holds: a cut-off download or a damaged file.
    const int64_t size = stub->GetSize();
    if (*length > size)
        return "the stub " + Quoted(path) + " is not a usable patch program: its headers describe " +
               Count(static_cast<uint64_t>(*length), "byte") + ", the file holds " +
               Count(static_cast<uint64_t>(size < 0 ? 0 : size), "byte");
    return std::string();
}

std::string DescribeBuildError(VelkBuildStatus status, const CommandLine& command, int64_t originalSize,
                               int64_t modifiedSize)
{
    const auto changed = [](const std::string& role, const NativeString& path, int64_t size) {
        return role + " " + Quoted(path) + " holds more than the " + Count(static_cast<uint64_t>(size), "byte") +
               " its size says (a file still being written, or a special file such as those in /proc)";
    };
    switch (status) {
    case VelkBuildStatus::kOriginalReadFailed: return "cannot read ORIGINAL " + Quoted(command.original);
    case VelkBuildStatus::kModifiedReadFailed: return "cannot read MODIFIED " + Quoted(command.modified);
    case VelkBuildStatus::kOriginalChanged: return changed("ORIGINAL", command.original, originalSize);
    case VelkBuildStatus::kModifiedChanged: return changed("MODIFIED", command.modified, modifiedSize);
    case VelkBuildStatus::kOutputWriteFailed:
        return "cannot write OUTPUT " + Quoted(command.output) + " (is the disk full?)";
    case VelkBuildStatus::kCancelled: return "interrupted; OUTPUT was not written";
    case VelkBuildStatus::kNoMemory: return "out of memory";
    case VelkBuildStatus::kOk: break;
    }
    return std::string();
}

}  // namespace

std::vector<NativeString> StubCandidates(const NativeString& executableFolder, StubArchitecture architecture)
{
    if (executableFolder.empty()) return {};
    const std::string name = StubName(architecture);
    return {InFolderUtf8(executableFolder, name), InFolderUtf8(executableFolder, "../share/velkpatch/" + name)};
}

int RunCreate(const CommandLine& command)
{
    // Of two folders a set.
    const bool set = IsFolder(command.original) && IsFolder(command.modified);
    if (!set && (IsFolder(command.original) || IsFolder(command.modified)))
        return Failure("ORIGINAL and MODIFIED must both be files, or both folders (for a set)");
    if (!set && !command.anchor.empty()) return Failure("--anchor names the file to pick in a set of two folders");
    if (set && command.noCrc) return Failure("a set always checks its files' CRC-32: --no-crc is for single files");
    if (set && command.keepUndo) return Failure(kSetKeepsNoUndo);

    // Everything is checked and read before OUTPUT is touched.
    CVELK_File original, modified, stub;
    NativeString stubPath;
    std::u16string description;
    int64_t stubLength = 0;
    std::string error = set ? std::string() : OpenInput(command.original, "ORIGINAL", &original);
    if (error.empty() && !set) error = OpenInput(command.modified, "MODIFIED", &modified);
    if (error.empty()) error = FindStub(command, &stubPath);
    if (error.empty()) error = CheckOutput(command, stubPath);
    if (error.empty() && command.hasDescription) error = ReadDescription(command.description, &description);
    if (error.empty() && !stubPath.empty()) error = MeasureStub(stubPath, &stub, &stubLength);
    if (!error.empty()) return Failure(error);

    CatchInterrupts();
    PendingOutput output(command.output);
    if (!output.Create(stubLength > 0)) return Failure("cannot create OUTPUT " + Quoted(command.output));
    switch (stubLength > 0 ? CopyStub(stub, stubLength, output.File()) : CopyResult::kOk) {
    case CopyResult::kOk: break;
    case CopyResult::kStubReadFailed: return Failure("cannot read the stub " + Quoted(stubPath));
    case CopyResult::kOutputWriteFailed: return Failure("cannot write OUTPUT " + Quoted(command.output));
    }
    stub.Close();

    ProgressLine line(IsTerminal(Stream::kErr));
    CreateProgress progress(line);
    if (set) {
        CVELK_SetBuilder builder(command.original, command.modified);
        builder.SetDescription(description);
        builder.SetAnchor(command.anchor);
        builder.SetProgress(&progress);
        const VelkSetBuildStatus status = builder.Build(output.File());
        line.Clear();
        if (status != VelkSetBuildStatus::kOk) return Failure(DescribeSetBuildError(status, builder, command));
        const int64_t total = output.File().Tell();
        if (!output.Flush()) return Failure("cannot write OUTPUT " + Quoted(command.output) + " (is the disk full?)");
        if (!output.Commit()) return Failure("cannot replace OUTPUT " + Quoted(command.output));
        WriteText(Stream::kOut, "Created " + ForStream(Stream::kOut, Display(command.output)) + ": a set, " +
                                    SetCreatedLine(builder) + ", file " + Count(static_cast<uint64_t>(total), "byte") +
                                    "\n");
        return kExitOk;
    }
    CVELK_PatchBuilder builder(original, modified);
    builder.SetCheckCrc(!command.noCrc);
    builder.SetKeepUndo(command.keepUndo);
    builder.SetDescription(description);
    builder.SetProgress(&progress);
    const VelkBuildStatus status = builder.Build(output.File());
    line.Clear();
    if (status != VelkBuildStatus::kOk)
        return Failure(DescribeBuildError(status, command, original.GetSize(), modified.GetSize()));
    const int64_t total = output.File().Tell();
    if (!output.Flush()) return Failure("cannot write OUTPUT " + Quoted(command.output) + " (is the disk full?)");
    if (!output.Commit()) return Failure("cannot replace OUTPUT " + Quoted(command.output));

    // The patch is in place; a report that cannot be written changes nothing about that.
    const VelkBuildStats& stats = builder.Stats();
    WriteText(Stream::kOut, "Created " + ForStream(Stream::kOut, Display(command.output)) + ": " +
                                Count(stats.records, "record") + ", " + Count(stats.changedBytes, "byte") +
                                " changed, payload " + Count(stats.payloadBytes, "byte") + ", file " +
                                Count(static_cast<uint64_t>(total), "byte") + "\n");
    return kExitOk;
}

int RunInfo(const CommandLine& command)
{
    // Far too large for the stack: the description buffer alone is 128 KiB.
    std::unique_ptr<CQM_DravInfo> info(new CQM_DravInfo());
    if (!info->ReadInfo(command.patch.c_str(), PayloadOffsetOf(command.patch))) {
        WriteText(Stream::kErr, TerminalText(velk_messages::kInitFailed) + "\n");
        return kExitFailure;
    }
    // Both the description and the version text in the summary come from the patch.
    std::string text = TerminalText(info->Description());
    if (!text.empty()) {
        if (text.back() != '\n') text += '\n';
        text += '\n';
    }
    text += SummaryText(*info);
    if (info->IsSet()) {
        CVELK_File patch;
        const std::string listing = patch.OpenFile(command.patch.c_str(), kModeReadExisting, kShareRead)
                                        ? SetListing(patch, PayloadOffsetOf(command.patch))
                                        : std::string();
        text += "\n" + listing;
    }
    return PrintResult(ForStream(Stream::kOut, text));
}

namespace {

// Whether PATCH is a set, and then its anchor for a TARGET that is the folder it lies in.
bool IsSetPatch(const CommandLine& command, NativeString* anchor)
{
    CVELK_File patch;
    const int64_t offset = PayloadOffsetOf(command.patch);
    *anchor = command.target;
    if (!patch.OpenFile(command.patch.c_str(), kModeReadExisting, kShareRead) || !velk_set::IsSet(patch, offset))
        return false;
    *anchor = AnchorIn(patch, offset, command.target);
    return true;
}

}  // namespace

int RunApply(const CommandLine& command)
{
    NativeString target;
    if (IsSetPatch(command, &target) && command.keepUndo) return Failure(kSetKeepsNoUndo);
    const bool terminal = IsTerminal(Stream::kIn);
    CVELK_TerminalOwner owner(command.answer, terminal, IsTerminal(Stream::kErr), Display(target));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    applier->SetKeepUndo(command.keepUndo);
    // Taking an apply back is undo's: apply says what it finds.
    applier->SetKeptUndo(VelkKeptUndo::kReport);
    // From here an interrupt asks the application to stop; it puts the target back first.
    CatchInterrupts();
    if (applier->ApplyPatch(command.patch.c_str(), target.c_str(), PayloadOffsetOf(command.patch))) return kExitOk;
    // Interrupted at the CRC question: declined, with nothing changed, like any other stop.
    if (applier->Stopped() || (owner.Declined() && Interrupted())) {
        WriteText(Stream::kErr, "velkpatch: interrupted; " + Quoted(command.target) + " was left as it was\n");
        return kExitInterrupted;
    }
    return owner.Declined() ? kExitDeclined : kExitFailure;
}

std::string Hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string SizeAndCrc(int64_t size, uint32_t crc)
{
    return "size " + std::to_string(size) + ", CRC-32 " + Hex8(crc);
}

namespace {

// What check says of a target the application would go on to patch; `reason` says why it is not
// the expected file, where the CRC question knew.
int ReportApplies(const NativeString& target, const VelkExamination& facts, bool asked, const std::u16string& reason)
{
    std::string line = Quoted(target, Stream::kOut);
    int code = kExitOk;
    if (asked) {
        line += " is not the file the patch expects: " + SizeAndCrc(facts.targetSize, facts.targetCrc) + "; expected ";
        if (facts.hasIdentity) line += "size " + std::to_string(facts.identity.originalSize) + ", ";
        line += "CRC-32 " + Hex8(facts.expectedCrc);
        if (!reason.empty()) line += "\n" + ForStream(Stream::kOut, TerminalText(reason));
        code = kExitNotExpected;
    } else if (facts.expectedCrc != 0) {
        line += " applies: " + SizeAndCrc(facts.targetSize, facts.targetCrc) + " as the patch expects";
    } else {
        line += " applies: the patch checks no CRC-32 (size " + std::to_string(facts.targetSize) + ")";
    }
    WriteText(Stream::kOut, line + "\n");
    return code;
}

}  // namespace

int RunCheck(const CommandLine& command)
{
    NativeString target;
    const bool set = IsSetPatch(command, &target);
    // apply would first play back what an interrupted application left beside the target; what
    // the target holds now may be neither the original nor the patched file.
    const NativeString journal = set ? NativeString(CVELK_SetJournal::JournalPathOf(DiskFileSystem(), target.c_str()).data())
                                     : CVELK_UndoJournal::PathFor(DiskFileSystem(), target.c_str());
    // One kept for undo holds a finished apply: what the target is can be told.
    const bool pending = DiskFileSystem().Exists(journal.c_str());
    const bool kept = pending && !set && CVELK_UndoJournal(DiskFileSystem(), target.c_str()).HoldsKept();
    if (pending && !kept)
        return Failure("cannot tell while " + Quoted(journal) +
                       " lies beside it: 'velkpatch recover' first undoes the interrupted apply it holds");
    CatchInterrupts();
    if (set) {
        CVELK_File patch;
        if (!patch.OpenFile(command.patch.c_str(), kModeReadExisting, kShareRead)) return Failure("cannot open the patch");
        return CheckSet(patch, PayloadOffsetOf(command.patch), target);
    }
    CVELK_CheckOwner owner(IsTerminal(Stream::kErr));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    const VelkExamination facts =
        applier->Examine(command.patch.c_str(), command.target.c_str(), PayloadOffsetOf(command.patch));
    owner.ClearProgress();
    switch (facts.outcome) {
    case VelkExamination::Outcome::kWouldApply:
        if (kept)
            return Failure("cannot tell: " + Quoted(journal) + " keeps the original of an earlier apply, and apply " +
                           "refuses to patch beside it ('velkpatch undo' takes that apply back; moving it away keeps " +
                           "the file as it is)");
        return ReportApplies(command.target, facts, owner.Asked(), owner.Reason());
    case VelkExamination::Outcome::kAlreadyPatched:
        WriteText(Stream::kOut, Quoted(command.target, Stream::kOut) + " is already patched: " +
                                    SizeAndCrc(facts.targetSize, facts.targetCrc) + " as the patch makes it\n");
        if (kept)
            WriteText(Stream::kOut, Quoted(journal, Stream::kOut) +
                                        " keeps the original: 'velkpatch undo' takes the apply back\n");
        return kExitAlreadyPatched;
    case VelkExamination::Outcome::kRefused: break;
    }
    if (applier->Stopped()) return Failure("interrupted; cannot tell");
    return Failure("cannot tell: " + TerminalText(owner.Message()));
}

int RunRecover(const CommandLine& command)
{
    // A folder: the sets whose main file lies in it or below it.
    if (IsFolder(command.target)) {
        std::vector<NativeString> anchors;
        const bool readWhole = FindInterruptedSets(command.target, &anchors);
        int code = kExitOk;
        for (const NativeString& anchor : anchors) {
            CommandLine one = command;
            one.target = anchor;
            if (RunRecover(one) != kExitOk) code = kExitFailure;
        }
        if (!readWhole) return Failure("cannot read every folder below " + Quoted(command.target));
        if (anchors.empty())
            WriteText(Stream::kOut, "Nothing to recover: no set's undo file lies in " + Quoted(command.target) + "\n");
        return code;
    }
    CVELK_TerminalOwner owner(CrcAnswer::kNo, false, false, Display(command.target));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    switch (applier->RecoverTarget(command.target.c_str())) {
    case RecoveryOutcome::kKept:
        WriteText(Stream::kOut, "Nothing to recover: " + Quoted(command.target) +
                                    " was not left part-patched; its undo journal is kept for 'velkpatch undo'\n");
        return kExitOk;
    case RecoveryOutcome::kNothingPending: {
        // A journal lies beside the name an apply used; a file with other names may have one
        // beside another.
        CVELK_File target;
        VelkFileFacts facts;
        if (target.OpenFile(command.target.c_str(), kModeReadExisting, kShareReadWrite) && target.Describe(&facts) &&
            facts.names > 1) {
            WriteText(Stream::kOut, "Nothing to recover beside " + Quoted(command.target) + "; it has " +
                                        std::to_string(facts.names) +
                                        " names (hard links): an interrupted apply through another name keeps its "
                                        "journal beside that name\n");
            return kExitOk;
        }
    }
        [[fallthrough]];
    case RecoveryOutcome::kDiscarded:
        WriteText(Stream::kOut, "Nothing to recover: " + Quoted(command.target) + " was not left part-patched\n");
        return kExitOk;
    case RecoveryOutcome::kRestored:
        WriteText(Stream::kOut, "Restored " + Quoted(command.target) + " to its state before the interrupted apply\n");
        return kExitOk;
    case RecoveryOutcome::kCompleted:
        WriteText(Stream::kOut, "Completed the interrupted apply of the set whose main file is " +
                                    Quoted(command.target) + ": it had got as far as its commit\n");
        return kExitOk;
    case RecoveryOutcome::kUnusable:
    case RecoveryOutcome::kDamaged:
    case RecoveryOutcome::kSetMember:
    case RecoveryOutcome::kFailed: break;
    }
    return kExitFailure;
}

int RunUndo(const CommandLine& command)
{
    NativeString anchor;
    if (IsSetPatch(command, &anchor)) return Failure(kSetKeepsNoUndo);
    // An interrupt ends the program: what it leaves, recovery finishes (the journal is sealed
    // again before the target changes).
    CVELK_TerminalOwner owner(CrcAnswer::kNo, false, IsTerminal(Stream::kErr), Display(command.target));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    return applier->UndoPatch(command.patch.c_str(), command.target.c_str(), PayloadOffsetOf(command.patch))
               ? kExitOk
               : kExitFailure;
}

int RunVelkpatch(const std::vector<NativeString>& args)
{
    CommandLine command;
    std::string error;
    if (!ParseArguments(args, &command, &error)) {
        WriteText(Stream::kErr, "velkpatch: " + error + "\nTry 'velkpatch --help' for more information.\n");
        return kExitUsage;
    }
    switch (command.kind) {
    case CommandKind::kHelp: return PrintResult(CommandUsage(command.helpTopic));
    case CommandKind::kVersion: return PrintResult(std::string("velkpatch ") + VELK_VERSION + "\n");
    case CommandKind::kCreate: return RunCreate(command);
    case CommandKind::kInfo: return RunInfo(command);
    case CommandKind::kApply: return RunApply(command);
    case CommandKind::kCheck: return RunCheck(command);
    case CommandKind::kRecover: return RunRecover(command);
    case CommandKind::kUndo: return RunUndo(command);
    }
    return kExitUsage;
}

}  // namespace velk_cli
