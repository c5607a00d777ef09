// Conversions for texts the payload carries (UTF-16) and the terminal shows (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Ill-formed input (a lone surrogate, a bad UTF-8 sequence) becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

// The magic text up to its first NUL, from the system's ANSI code page to UTF-16. ASCII maps to
// itself everywhere; other bytes follow the platform (Windows: the ANSI code page; elsewhere
// Latin-1).
std::u16string AnsiToUtf16(const char* text, size_t length);
