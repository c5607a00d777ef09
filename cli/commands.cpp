#include "cli/commands.h"

#include <memory>
#include <new>

#include "cli/description.h"
#include "cli/platform.h"
#include "cli/terminal_owner.h"
#include "file/velk_file.h"
#include "payload/drav_info.h"
#include "payload/format.h"
#include "payload/ips_in.h"
#include "payload/messages.h"
#include "payload/patch_builder.h"
#include "payload/payload_locator.h"

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

namespace velk_cli {

namespace {

constexpr const char kStubName[] = "velkstub.exe";

int Failure(const std::string& text)
{
    WriteText(Stream::kErr, "velkpatch: " + text + "\n");
    return kExitFailure;
}

std::string Count(uint64_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Quoted(const NativeString& path)
{
    return "'" + Display(path) + "'";
}

NativeString Join(const NativeString& folder, const std::string& name)
{
    NativeString path = folder;
    if (!path.empty() && path.back() != PathSeparator() && path.back() != static_cast<NativeChar>('/'))
        path += PathSeparator();
    for (char c : name) path += static_cast<NativeChar>(c == '/' ? PathSeparator() : c);
    return path;
}

bool ReadSmallFile(const NativeString& path, size_t limit, std::string* bytes, bool* tooLarge)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return false;
    const int64_t size = file.GetSize();
    if (size < 0) return false;
    *tooLarge = static_cast<uint64_t>(size) > limit;
    if (*tooLarge) return true;
    bytes->assign(static_cast<size_t>(size), '\0');
    return velk_format::ReadFully(file, &(*bytes)[0], static_cast<uint32_t>(size)) == size;
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

// The output under construction: a new file beside OUTPUT that replaces it only when complete,
// and is removed on every other path.
class PendingOutput {
public:
    explicit PendingOutput(const NativeString& output) : m_output(output) {}
    ~PendingOutput()
    {
        m_file.Close();
        if (!m_path.empty() && !m_committed) RemoveFile(m_path);
    }

    bool Create()
    {
        for (uint32_t attempt = 0; attempt < 100; ++attempt) {
            NativeString path = m_output;
            for (char c : ".velktmp-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt))
                path += static_cast<NativeChar>(c);
            if (CreateNewFile(path)) {
                m_path = path;
                return m_file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead);
            }
            if (!FileExists(path)) return false;  // the folder itself refuses
        }
        return false;
    }

    CVELK_File& File() { return m_file; }

    bool Commit(bool executable)
    {
        m_file.Close();
        if (executable) MarkExecutable(m_path);
        m_committed = RenameOver(m_path, m_output);
        return m_committed;
    }

private:
    NativeString m_output;
    NativeString m_path;
    CVELK_File m_file;
    bool m_committed = false;
};

// Copies the executable part of the stub: all of a fresh patcher, or the patcher in front of
// an older patch's payload.
bool CopyStub(CVELK_File& stub, int64_t length, CVELK_xFile& output)
{
    constexpr uint32_t kChunk = 1u << 20;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunk]);
    if (!buffer || !stub.Seek(0)) return false;
    for (int64_t left = length; left > 0;) {
        const uint32_t n = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
        if (velk_format::ReadFully(stub, buffer.get(), n) != n || output.Write(buffer.get(), n) != n) return false;
        left -= n;
    }
    return true;
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

int64_t PayloadOffsetOf(const NativeString& patch)
{
    // A file that cannot be examined is handed on at offset 0: the application then reports the
    // failed open in its own words.
    const int64_t offset = FindPayloadOffset(patch.c_str());
    return offset < 0 ? 0 : offset;
}

}  // namespace

std::vector<NativeString> StubCandidates(const NativeString& executableFolder)
{
    if (executableFolder.empty()) return {};
    return {Join(executableFolder, kStubName), Join(executableFolder, std::string("../share/velkpatch/") + kStubName)};
}

int RunCreate(const CommandLine& command)
{
    // Inputs first: nothing is created when they cannot be read.
    CVELK_File original, modified;
    if (!original.OpenFile(command.original.c_str(), kModeReadExisting, kShareRead))
        return Failure("cannot open ORIGINAL " + Quoted(command.original));
    if (!modified.OpenFile(command.modified.c_str(), kModeReadExisting, kShareRead))
        return Failure("cannot open MODIFIED " + Quoted(command.modified));

    NativeString stubPath;
    if (command.hasStub) {
        stubPath = command.stub;
    } else if (!command.payloadOnly) {
        const std::vector<NativeString> candidates = StubCandidates(ExecutableFolder());
        for (const NativeString& candidate : candidates) {
            if (FileExists(candidate)) {
                stubPath = candidate;
                break;
            }
        }
        if (stubPath.empty())
            return Failure(std::string("no patcher found (looked for ") + kStubName +
                           (candidates.empty() ? std::string() : " at " + Quoted(candidates[0])) +
                           "); name one with --stub FILE or write a bare payload with --payload-only");
    }

    // The output replaces a file only once it is complete, but never one of the inputs.
    const struct {
        const char* role;
        const NativeString* path;
    } inputs[] = {{"ORIGINAL", &command.original}, {"MODIFIED", &command.modified}, {"the stub", &stubPath}};
    for (const auto& input : inputs) {
        if (input.path->empty()) continue;
        const Sameness same = SameFile(command.output, *input.path);
        if (same == Sameness::kSame)
            return Failure("OUTPUT " + Quoted(command.output) + " is " + input.role + "; refusing to overwrite it");
        if (same == Sameness::kUnknown)
            return Failure("cannot tell whether OUTPUT " + Quoted(command.output) + " is " + input.role);
    }

    std::u16string description;
    if (command.hasDescription) {
        std::string bytes;
        bool tooLarge = false;
        // Anything past this many bytes cannot fit in 32767 UTF-16 units.
        const size_t limit = 3 + 4 * kMaxDescriptionUnits;
        if (!ReadSmallFile(command.description, limit, &bytes, &tooLarge))
            return Failure("cannot read the description " + Quoted(command.description));
        if (tooLarge)
            return Failure("description " + Quoted(command.description) + " is too long: at most " +
                           std::to_string(kMaxDescriptionUnits) + " UTF-16 units fit");
        const DescriptionResult result = ConvertDescription(bytes);
        if (result.status != DescriptionStatus::kOk)
            return Failure(DescribeDescriptionError(result, command.description));
        description = result.text;
    }

    CVELK_File stub;
    int64_t stubLength = 0;
    if (!stubPath.empty()) {
        if (!stub.OpenFile(stubPath.c_str(), kModeReadExisting, kShareRead))
            return Failure("cannot open the stub " + Quoted(stubPath));
        stubLength = FindPayloadOffset(stub);
        if (stubLength <= 0)
            return Failure("the stub " + Quoted(stubPath) + " is not an executable the patch could run as");
    }

    CatchInterrupts();
    PendingOutput output(command.output);
    if (!output.Create()) return Failure("cannot create OUTPUT " + Quoted(command.output));
    if (stubLength > 0 && !CopyStub(stub, stubLength, output.File()))
        return Failure("cannot write OUTPUT " + Quoted(command.output));
    stub.Close();

    ProgressLine line(IsTerminal(Stream::kErr));
    CreateProgress progress(line);
    CVELK_PatchBuilder builder(original, modified);
    builder.SetCheckCrc(!command.noCrc);
    builder.SetDescription(description);
    builder.SetProgress(&progress);
    const VelkBuildStatus status = builder.Build(output.File());
    line.Clear();
    switch (status) {
    case VelkBuildStatus::kOk: break;
    case VelkBuildStatus::kOriginalReadFailed: return Failure("cannot read ORIGINAL " + Quoted(command.original));
    case VelkBuildStatus::kModifiedReadFailed: return Failure("cannot read MODIFIED " + Quoted(command.modified));
    case VelkBuildStatus::kOutputWriteFailed:
        return Failure("cannot write OUTPUT " + Quoted(command.output) + " (is the disk full?)");
    case VelkBuildStatus::kCancelled: return Failure("interrupted; OUTPUT was not written");
    case VelkBuildStatus::kNoMemory: return Failure("out of memory");
    }
    const int64_t total = output.File().Tell();
    if (!output.Commit(stubLength > 0)) return Failure("cannot replace OUTPUT " + Quoted(command.output));

    const VelkBuildStats& stats = builder.Stats();
    WriteText(Stream::kOut, "Created " + Display(command.output) + ": " + Count(stats.records, "record") + ", " +
                                Count(stats.changedBytes, "byte") + " changed, payload " +
                                Count(stats.payloadBytes, "byte") + ", file " + Count(static_cast<uint64_t>(total), "byte") +
                                "\n");
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
    std::string text = TerminalText(info->Description());
    if (!text.empty()) {
        if (text.back() != '\n') text += '\n';
        text += '\n';
    }
    text += TerminalText(info->FormatSummary()) + "\n";
    WriteText(Stream::kOut, text);
    return kExitOk;
}

int RunApply(const CommandLine& command)
{
    const bool terminal = IsTerminal(Stream::kIn);
    CVELK_TerminalOwner owner(command.answer, terminal, IsTerminal(Stream::kErr), Display(command.target));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    // From here an interrupt asks the application to stop; it puts the target back first.
    CatchInterrupts();
    if (applier->ApplyPatch(command.patch.c_str(), command.target.c_str(), PayloadOffsetOf(command.patch)))
        return kExitOk;
    // Interrupted at the CRC question: declined, with nothing changed, like any other stop.
    if (applier->Stopped() || (owner.Declined() && Interrupted())) {
        WriteText(Stream::kErr, "velkpatch: interrupted; " + Quoted(command.target) + " was left as it was\n");
        return kExitInterrupted;
    }
    return owner.Declined() ? kExitDeclined : kExitFailure;
}

int RunRecover(const CommandLine& command)
{
    CVELK_TerminalOwner owner(CrcAnswer::kNo, false, false, Display(command.target));
    std::unique_ptr<CVELK_IPS_IN> applier(new CVELK_IPS_IN(owner));
    switch (applier->RecoverTarget(command.target.c_str())) {
    case RecoveryOutcome::kNothingPending:
    case RecoveryOutcome::kDiscarded:
        WriteText(Stream::kOut, "Nothing to recover: " + Quoted(command.target) + " was not left part-patched\n");
        return kExitOk;
    case RecoveryOutcome::kRestored:
        WriteText(Stream::kOut, "Restored " + Quoted(command.target) + " to its state before the interrupted apply\n");
        return kExitOk;
    case RecoveryOutcome::kUnusable:
    case RecoveryOutcome::kFailed: break;
    }
    return kExitFailure;
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
    case CommandKind::kHelp: WriteText(Stream::kOut, CommandUsage(command.helpTopic)); return kExitOk;
    case CommandKind::kVersion: WriteText(Stream::kOut, std::string("velkpatch ") + VELK_VERSION + "\n"); return kExitOk;
    case CommandKind::kCreate: return RunCreate(command);
    case CommandKind::kInfo: return RunInfo(command);
    case CommandKind::kApply: return RunApply(command);
    case CommandKind::kRecover: return RunRecover(command);
    }
    return kExitUsage;
}

}  // namespace velk_cli
