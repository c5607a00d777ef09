// What the command line needs from the operating system, one implementation per platform
// (platform_posix.cpp, platform_win32.cpp). Paths are the platform's own text.
#pragma once

#include <cstdint>
#include <string>

#include "file/native_path.h"

namespace velk_cli {

enum class Stream { kIn, kOut, kErr };

bool IsTerminal(Stream stream);
// UTF-8 text; a console shows it as such, a pipe or file receives the bytes (with CR LF line
// ends on Windows). False when not all of it could be written (a closed stream, a reader that
// went away, a full disk).
bool WriteText(Stream stream, const std::string& utf8);
// One line typed on the terminal, without its line end; false at the end of input.
bool ReadTerminalLine(std::string* line);

// The folder the running program was started from, empty when it cannot be told.
NativeString ExecutableFolder();
// The separator between a folder and a name.
NativeChar PathSeparator();

enum class Sameness { kSame, kDifferent, kUnknown };
// Whether two paths name the same file (hard links and other spellings included). kDifferent
// when either does not exist.
Sameness SameFile(const NativeString& a, const NativeString& b);
bool FileExists(const NativeString& path);
// Creates an empty file that did not exist before; false when the path is taken.
bool CreateNewFile(const NativeString& path);
// Replaces `to` with `from` in one step (the rename of the file system).
bool RenameOver(const NativeString& from, const NativeString& to);
bool RemoveFile(const NativeString& path);
// Gives a file the execute permission where the platform has one (a patch .exe runs under
// Wine or Proton straight from a Linux file manager).
void MarkExecutable(const NativeString& path);
// A number that differs between processes running at the same time.
uint32_t ProcessId();

// Ctrl+C, SIGTERM and the like set a flag instead of ending the program, so that long work can
// stop cleanly.
void CatchInterrupts();
bool Interrupted();

// A path for messages: UTF-8 (on POSIX the bytes as they are).
std::string Display(const NativeString& path);
// An argument from the command line as UTF-8, for comparison with option names.
std::string ToUtf8(const NativeString& text);

}  // namespace velk_cli
