#include "cli/arguments.h"

#include "cli/platform.h"

namespace velk_cli {

const char kUsage[] =
    "Usage:\n"
    "  velkpatch create ORIGINAL MODIFIED -o OUTPUT [--description FILE] [--no-crc] [--keep-undo]\n"
    "                   [--stub FILE | --x86 | --payload-only]\n"
    "  velkpatch create ORIGINAL_FOLDER MODIFIED_FOLDER -o OUTPUT [--anchor PATH] [...]\n"
    "  velkpatch info PATCH\n"
    "  velkpatch apply PATCH TARGET [--yes | --no] [--keep-undo]\n"
    "  velkpatch check PATCH TARGET\n"
    "  velkpatch undo PATCH TARGET\n"
    "  velkpatch recover TARGET\n"
    "  velkpatch --help | --version\n"
    "\n"
    "Commands:\n"
    "  create   write a self-applying patch (the Windows patcher followed by the payload)\n"
    "           that turns ORIGINAL into MODIFIED; of two folders, a set that patches every\n"
    "           file that differs, all or nothing\n"
    "  info     show a patch's description and summary\n"
    "  apply    patch TARGET in place with PATCH (a patch .exe or a bare payload); for a set,\n"
    "           TARGET is the folder or the set's main file in it\n"
    "  check    tell whether PATCH applies to TARGET, without changing it\n"
    "  undo     take back an apply of PATCH to TARGET whose undo journal was kept\n"
    "  recover  undo an interrupted apply to TARGET, patching nothing; of a folder, every\n"
    "           interrupted set whose main file lies in it or below it\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text; after a command, as in 'velkpatch create --help', the\n"
    "                 options of that command\n"
    "  -V, --version  show the version\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 usage error, 3 declined at the CRC question, 130\n"
    "interrupted (TARGET left as it was); check: 4 already patched, 5 not the expected file.\n"
    "A closed or broken output stream changes neither what is done to files nor the exit code;\n"
    "info, --help and --version, whose work is their text, exit 1 when it cannot be written.\n"
    "On a terminal, control characters in a patch's texts and in file names show escaped (\\x1B).\n";

namespace {

const char kCreateUsage[] =
    "Usage: velkpatch create ORIGINAL MODIFIED -o OUTPUT [options]\n"
    "\n"
    "Writes a patch that turns ORIGINAL into MODIFIED. Of two folders it writes a set: every\n"
    "file that differs is patched, created or deleted, all or nothing.\n"
    "\n"
    "  -o, --output FILE     the patch to write (replaced only once it is complete, keeping\n"
    "                        its permissions; a link is followed)\n"
    "  --description FILE    UTF-8 text shown to the user before patching (a pipe will do)\n"
    "  --no-crc              do not check the target's CRC-32 before patching\n"
    "  --keep-undo           mark the patch so that every apply keeps TARGET.velk-undo,\n"
    "                        which 'velkpatch undo' (or the patch, run again) takes back\n"
    "  --stub FILE           the Windows patcher to put in front of the payload\n"
    "                        (default: velkstub.exe beside velkpatch, the x64 patcher)\n"
    "  --x86                 put the x86 patcher in front instead, velkstub-x86.exe beside\n"
    "                        velkpatch: its patch also runs on 32-bit Windows\n"
    "  --payload-only        write the bare payload, without the patcher\n"
    "  --anchor PATH         of a set, the file the user picks, relative to the folders\n"
    "                        (default: the largest modified file)\n";

const char kInfoUsage[] =
    "Usage: velkpatch info PATCH\n"
    "\n"
    "Shows the description and the summary of PATCH (a patch .exe or a bare payload).\n";

const char kApplyUsage[] =
    "Usage: velkpatch apply PATCH TARGET [--yes | --no]\n"
    "\n"
    "Patches TARGET in place. When TARGET fails the patch's CRC-32 check:\n"
    "  -y, --yes   patch anyway\n"
    "  -n, --no    leave TARGET alone (exit code 3)\n"
    "Without either, the question is asked on the terminal; with no terminal the answer is no.\n"
    "\n"
    "  --keep-undo keep TARGET.velk-undo after a successful apply, so that 'velkpatch undo\n"
    "              PATCH TARGET' can take it back (a patch made with --keep-undo always does)\n"
    "\n"
    "What the patch overwrites is saved first in TARGET.velk-undo beside TARGET: a failure or an\n"
    "interrupt (Ctrl+C, exit code 130) puts TARGET back as it was, and after a crash or a power\n"
    "cut the next apply or 'velkpatch recover TARGET' does. A kept TARGET.velk-undo holds the\n"
    "bytes the patch overwrote and the tail a shrink cut off; while it lies there, other patches\n"
    "are refused: undo first, or move it away to keep TARGET as it is.\n";

const char kUndoUsage[] =
    "Usage: velkpatch undo PATCH TARGET\n"
    "\n"
    "Takes back an apply of PATCH to TARGET whose undo journal was kept (apply --keep-undo, or a\n"
    "patch made with create --keep-undo): TARGET.velk-undo is played back, TARGET's CRC-32 is\n"
    "checked against the original's, and TARGET.velk-undo is removed. Nothing is done when\n"
    "TARGET has changed since the apply, or the journal was kept by another patch (exit code 1).\n"
    "An interrupted undo is finished by the next apply, undo or 'velkpatch recover TARGET'.\n";

const char kRecoverUsage[] =
    "Usage: velkpatch recover TARGET\n"
    "\n"
    "Plays back TARGET.velk-undo, the journal that an interrupted apply left beside TARGET, so\n"
    "that TARGET is as it was before that apply. Exit code 0 when TARGET was restored or nothing\n"
    "was pending; a journal that does not belong to TARGET is left alone (exit code 1).\n"
    "For a set, TARGET is its main file (or the folder it lies in): the set journal beside it,\n"
    "TARGET.velk-set-undo, puts every file of the set back, or completes a set that had got\n"
    "as far as its commit.\n";

const char kCheckUsage[] =
    "Usage: velkpatch check PATCH TARGET\n"
    "\n"
    "Tells, in one line, what applying PATCH to TARGET would find. TARGET is only read. For a\n"
    "set, a line for every file, and one exit code for the set.\n"
    "Exit codes:\n"
    "  0  PATCH applies to TARGET without the CRC question\n"
    "  4  TARGET is already patched\n"
    "  5  TARGET is not the file PATCH expects (apply would ask the CRC question)\n"
    "  1  cannot tell: PATCH is unusable, TARGET cannot be read, or TARGET.velk-undo lies\n"
    "     beside it (an interrupted apply: velkpatch recover TARGET first; one kept for undo:\n"
    "     apply refuses other patches until it is gone)\n"
    "Where TARGET is not the file PATCH expects, a second line tells why, where that is known\n"
    "(its size, an archive, a patch, a cue sheet, an empty file).\n";

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

// Splits "--name=value" into its parts.
bool SplitValue(const std::string& arg, std::string* name, std::string* value)
{
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") != 0 || equals == std::string::npos) return false;
    *name = arg.substr(0, equals);
    *value = arg.substr(equals + 1);
    return true;
}

}  // namespace

const char* CommandUsage(const std::string& command)
{
    if (command == "create") return kCreateUsage;
    if (command == "info") return kInfoUsage;
    if (command == "apply") return kApplyUsage;
    if (command == "check") return kCheckUsage;
    if (command == "recover") return kRecoverUsage;
    if (command == "undo") return kUndoUsage;
    return kUsage;
}

bool ParseArguments(const std::vector<NativeString>& args, CommandLine* command, std::string* error)
{
    *command = CommandLine();
    if (args.empty()) return Fail(error, "no command given");
    const std::string name = ToUtf8(args[0]);
    if (name == "--help" || name == "-h" || name == "help") {
        command->kind = CommandKind::kHelp;
        if (name == "help" && args.size() > 1) command->helpTopic = ToUtf8(args[1]);
        return true;
    }
    if (name == "--version" || name == "-V") {
        command->kind = CommandKind::kVersion;
        return true;
    }
    if (name == "create") command->kind = CommandKind::kCreate;
    else if (name == "info") command->kind = CommandKind::kInfo;
    else if (name == "apply") command->kind = CommandKind::kApply;
    else if (name == "check") command->kind = CommandKind::kCheck;
    else if (name == "recover") command->kind = CommandKind::kRecover;
    else if (name == "undo") command->kind = CommandKind::kUndo;
    else return Fail(error, "unknown command '" + name + "'");

    std::vector<NativeString> positional;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = ToUtf8(args[i]);
        NativeString value;
        bool hasInlineValue = false;
        std::string optionName, inlineValue;
        if (!optionsEnded && SplitValue(arg, &optionName, &inlineValue)) {
            arg = optionName;
            hasInlineValue = true;
            // The value keeps the platform's own spelling: everything after the '='.
            const NativeString& raw = args[i];
            value = raw.substr(raw.find(static_cast<NativeChar>('=')) + 1);
        }
        auto takeValue = [&](NativeString* into) {
            if (hasInlineValue) {
                *into = value;
                return true;
            }
            if (i + 1 >= args.size()) return Fail(error, "option " + arg + " needs a value");
            *into = args[++i];
            return true;
        };
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!isOption) {
            positional.push_back(args[i]);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            command->helpTopic = name;
            command->kind = CommandKind::kHelp;
            return true;
        }
        const bool create = command->kind == CommandKind::kCreate;
        const bool apply = command->kind == CommandKind::kApply;
        bool known = true;
        if (create && (arg == "-o" || arg == "--output")) {
            if (!command->output.empty()) return Fail(error, "OUTPUT given twice");
            if (!takeValue(&command->output)) return false;
            if (command->output.empty()) return Fail(error, "OUTPUT is empty");
        } else if (create && arg == "--description") {
            if (!takeValue(&command->description)) return false;
            if (command->description.empty()) return Fail(error, "--description FILE is empty");
            command->hasDescription = true;
        } else if (create && arg == "--stub") {
            // An empty name would otherwise read as no stub at all: a bare payload, silently.
            if (!takeValue(&command->stub)) return false;
            if (command->stub.empty()) return Fail(error, "--stub FILE is empty");
            command->hasStub = true;
        } else if (create && arg == "--no-crc" && !hasInlineValue) {
            command->noCrc = true;
        } else if (create && arg == "--x86" && !hasInlineValue) {
            command->stubArchitecture = StubArchitecture::kX86;
        } else if (create && arg == "--anchor") {
            NativeString anchor;
            if (!takeValue(&anchor)) return false;
            if (anchor.empty()) return Fail(error, "--anchor PATH is empty");
            command->anchor = ToUtf8(anchor);
        } else if (create && arg == "--payload-only" && !hasInlineValue) {
            command->payloadOnly = true;
        } else if ((create || apply) && arg == "--keep-undo" && !hasInlineValue) {
            command->keepUndo = true;
        } else if (apply && (arg == "--yes" || arg == "-y") && !hasInlineValue) {
            if (command->answer == CrcAnswer::kNo) return Fail(error, "--yes and --no exclude each other");
            command->answer = CrcAnswer::kYes;
        } else if (apply && (arg == "--no" || arg == "-n") && !hasInlineValue) {
            if (command->answer == CrcAnswer::kYes) return Fail(error, "--yes and --no exclude each other");
            command->answer = CrcAnswer::kNo;
        } else {
            known = false;
        }
        if (!known) return Fail(error, "unknown option '" + arg + "' for " + name);
    }

    switch (command->kind) {
    case CommandKind::kCreate:
        if (positional.size() != 2) return Fail(error, "create needs ORIGINAL and MODIFIED");
        if (command->output.empty()) return Fail(error, "create needs -o OUTPUT");
        if (command->hasStub && command->payloadOnly)
            return Fail(error, "--stub and --payload-only exclude each other");
        if (command->stubArchitecture == StubArchitecture::kX86 && command->hasStub)
            return Fail(error, "--stub and --x86 exclude each other");
        if (command->stubArchitecture == StubArchitecture::kX86 && command->payloadOnly)
            return Fail(error, "--x86 and --payload-only exclude each other");
        command->original = positional[0];
        command->modified = positional[1];
        return true;
    case CommandKind::kInfo:
        if (positional.size() != 1) return Fail(error, "info needs exactly one PATCH");
        command->patch = positional[0];
        return true;
    case CommandKind::kUndo:
        if (positional.size() != 2) return Fail(error, "undo needs PATCH and TARGET");
        command->patch = positional[0];
        command->target = positional[1];
        return true;
    case CommandKind::kCheck:
        if (positional.size() != 2) return Fail(error, "check needs PATCH and TARGET");
        command->patch = positional[0];
        command->target = positional[1];
        return true;
    case CommandKind::kRecover:
        if (positional.size() != 1) return Fail(error, "recover needs exactly one TARGET");
        command->target = positional[0];
        return true;
    default:
        if (positional.size() != 2) return Fail(error, "apply needs PATCH and TARGET");
        command->patch = positional[0];
        command->target = positional[1];
        return true;
    }
}

}  // namespace velk_cli
