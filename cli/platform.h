// What the command line needs from the operating system, one implementation per platform
// (platform_posix.cpp, platform_win32.cpp). Paths are the platform's own text.
#pragma once

#include <cstdint>
#include <string>

#include "file/native_path.h"
#include "file/velk_file.h"

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

enum class Sameness { kSame, kDifferent, kUnknown };
// Whether two paths name the same file (hard links and other spellings included). kDifferent
// when either does not exist; kUnknown when either cannot be examined (access denied).
Sameness SameFile(const NativeString& a, const NativeString& b);
bool FileExists(const NativeString& path);

enum class FileKind { kMissing, kRegular, kOther, kUnknown };
// What a path names, links followed: a regular file, something else (a folder, a pipe, a device),
// nothing, or kUnknown when it cannot be examined.
FileKind KindOfFile(const NativeString& path);
// Whether a path names a folder, links followed.
bool IsFolder(const NativeString& path);
// Reads a file of any kind to its end (a pipe, a named pipe that waits for its writer, a /proc
// file), but no more than `limit` + 1 bytes, so that a caller can tell a file that is too long.
bool ReadSmallFile(const NativeString& path, size_t limit, std::string* bytes);

// The file a symbolic link names (through any chain of links); the path itself when it is no
// link or does not exist.
NativeString FollowLinks(const NativeString& path);
// The longest name, in path units, that the file system of `folder` takes.
size_t NameLimit(const NativeString& folder);
// Gives a new file the permissions of the file it is about to replace (and, run as root, its
// owner), or the default ones when there is none; `executable` adds the execute permission
// wherever reading is allowed (a patch .exe runs under Wine or Proton straight from a Linux file
// manager). Windows: the new file keeps the permissions its folder passes on.
void AdoptPermissions(CVELK_File& file, const NativeString& replaced, bool executable);
// Replaces `to` with `from` in one step (the rename of the file system) and makes the change
// durable: the folder is flushed to the disk as well.
bool RenameOver(const NativeString& from, const NativeString& to);
// A number that differs between processes running at the same time.
uint32_t ProcessId();

// Ctrl+C, SIGTERM and the like set a flag instead of ending the program, so that long work can
// stop cleanly. On Windows, closing the console window, logging off and shutting down end the
// program as soon as the console handler returns; the handler therefore returns only once the
// main thread calls CleanupDone() (or the system's allowance has run out).
void CatchInterrupts();
bool Interrupted();
// The work is over and what it leaves behind is in order (a temporary file removed, a target
// restored): the program may now be ended. Called last, as the entry returns.
void CleanupDone();
#ifdef _WIN32
// The console control handler CatchInterrupts installs (BOOL WINAPI (DWORD)).
int __stdcall OnConsoleEvent(unsigned long event);
#endif

// A path for messages: UTF-8 (on POSIX the bytes as they are).
std::string Display(const NativeString& path);
// An argument from the command line as UTF-8, for comparison with option names.
std::string ToUtf8(const NativeString& text);

}  // namespace velk_cli
