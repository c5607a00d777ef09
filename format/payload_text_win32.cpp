#include <windows.h>

#include "format/payload_text.h"

std::u16string AnsiToUtf16(const char* text, size_t length)
{
    size_t n = 0;
    while (n < length && text[n] != 0) ++n;
    if (n == 0) return std::u16string();
    wchar_t wide[64];
    int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), wide, 64);
    return std::u16string(reinterpret_cast<const char16_t*>(wide), units > 0 ? units : 0);
}
