// The command line of velkpatch, parsed into what each command needs.
#pragma once

#include <string>
#include <vector>

#include "cli/terminal_owner.h"
#include "file/native_path.h"

namespace velk_cli {

enum class CommandKind { kHelp, kVersion, kCreate, kInfo, kApply, kRecover };

struct CommandLine {
    CommandKind kind = CommandKind::kHelp;
    std::string helpTopic;  // the command whose help was asked for, empty for the overview
    // create
    NativeString original, modified, output, description, stub;
    bool hasDescription = false;
    bool noCrc = false;
    bool payloadOnly = false;
    bool hasStub = false;
    // info, apply, recover
    NativeString patch, target;
    CrcAnswer answer = CrcAnswer::kAsk;
};

// False with a one-line reason when the arguments do not make a command.
bool ParseArguments(const std::vector<NativeString>& args, CommandLine* command, std::string* error);

extern const char kUsage[];
const char* CommandUsage(const std::string& command);

}  // namespace velk_cli
