// The command line of velkpatch, parsed into what each command needs.
#pragma once

#include <string>
#include <vector>

#include "cli/terminal_owner.h"
#include "file/native_path.h"

namespace velk_cli {

enum class CommandKind { kHelp, kVersion, kCreate, kInfo, kApply, kCheck, kRecover, kUndo };

// The Windows patchers that velkpatch ships: x64 (the default) and x86, which runs on 32-bit
// Windows as well.
enum class StubArchitecture { kX64, kX86 };

struct CommandLine {
    CommandKind kind = CommandKind::kHelp;
    std::string helpTopic;  // the command whose help was asked for, empty for the overview
    // create
    NativeString original, modified, output, description, stub;
    std::string anchor;  // of a set made from two folders, relative to them (UTF-8)
    bool hasDescription = false;
    bool noCrc = false;
    bool payloadOnly = false;
    bool hasStub = false;
    StubArchitecture stubArchitecture = StubArchitecture::kX64;  // of the patcher found, without --stub
    // create and apply: keep the undo journal beside the target after a successful apply
    bool keepUndo = false;
    // info, apply, check, recover, undo
    NativeString patch, target;
    CrcAnswer answer = CrcAnswer::kAsk;
};

// False with a one-line reason when the arguments do not make a command.
bool ParseArguments(const std::vector<NativeString>& args, CommandLine* command, std::string* error);

extern const char kUsage[];
const char* CommandUsage(const std::string& command);

}  // namespace velk_cli
