// Conversions for texts the payload carries (UTF-16) and the terminal shows (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Ill-formed input (a lone surrogate, a bad UTF-8 sequence) becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
// The same, appended to `text`, without a std::string (whose code the patch program does without).
void AppendUtf8(std::u16string* text, const char* utf8, size_t bytes);
// A number in decimal digits, written by hand: the C library's formatter alone would add a fifth
// to the size of the patch program.
std::u16string DecimalText(int64_t value);

// The magic text up to its first NUL, from the system's ANSI code page to UTF-16. ASCII maps to
// itself everywhere; other bytes follow the platform (Windows: the ANSI code page; elsewhere
// Latin-1).
std::u16string AnsiToUtf16(const char* text, size_t length);
