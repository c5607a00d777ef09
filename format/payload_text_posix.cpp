#include "format/payload_text.h"

std::u16string AnsiToUtf16(const char* text, size_t length)
{
    std::u16string out;
    for (size_t i = 0; i < length && text[i] != 0; ++i) out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    return out;
}
