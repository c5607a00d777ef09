// The commands of velkpatch and the dispatch between them.
#pragma once

#include <vector>

#include "cli/arguments.h"
#include "cli/platform.h"
#include "file/native_path.h"

namespace velk_cli {

// 130: what a shell reports for a program ended by Ctrl+C, here ended by itself, cleanly.
enum ExitCode {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitDeclined = 3,
    // check: the target is already patched, or not the file the patch expects.
    kExitAlreadyPatched = 4,
    kExitNotExpected = 5,
    kExitInterrupted = 130,
};

// The whole program after the platform's entry has collected the arguments (without the
// program name).
int RunVelkpatch(const std::vector<NativeString>& args);

int RunCreate(const CommandLine& command);
int RunInfo(const CommandLine& command);
int RunApply(const CommandLine& command);
int RunCheck(const CommandLine& command);
int RunRecover(const CommandLine& command);
int RunUndo(const CommandLine& command);

// Texts the commands write alike: a failure on stderr (returns kExitFailure); a path quoted for
// a message on `stream` (a file name can carry control characters too); a CRC-32 in hex; a
// file's size and CRC-32.
int Failure(const std::string& text);
std::string Quoted(const NativeString& path, Stream stream = Stream::kErr);
std::string Hex8(uint32_t value);
std::string SizeAndCrc(int64_t size, uint32_t crc);

// Where create looks for the patcher of an architecture when --stub is not given: beside the
// program, then in the installed share folder.
std::vector<NativeString> StubCandidates(const NativeString& executableFolder,
                                         StubArchitecture architecture = StubArchitecture::kX64);

}  // namespace velk_cli
