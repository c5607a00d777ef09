// Paths are the platform's own text: UTF-16 on Windows, bytes on POSIX (a Linux file name need
// not be valid UTF-8 and must still open).
#pragma once

#include <string>

#ifdef _WIN32
using NativeChar = wchar_t;
#define VELK_NATIVE(text) L##text
#else
using NativeChar = char;
#define VELK_NATIVE(text) text
#endif

using NativeString = std::basic_string<NativeChar>;

// Every fixed path buffer of the program holds this many units, terminating NUL included.
constexpr int kMaxPathUnits = 260;
