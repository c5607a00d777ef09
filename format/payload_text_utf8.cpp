// Apart from payload_text.cpp, whose std::string functions would bring the C++ runtime's
// exception handling into the patch program, which needs only these.
#include <cstdint>

#include "file/utf8.h"
#include "format/payload_text.h"

std::u16string DecimalText(int64_t value)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char16_t digits[20];
    int first = 20;
    do {
        digits[--first] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::u16string text = value < 0 ? u"-" : u"";
    return text.append(digits + first, static_cast<size_t>(20 - first));
}

void AppendUtf8(std::u16string* text, const char* utf8, size_t bytes)
{
    text->reserve(text->size() + bytes);
    AppendUtf8AsUtf16(text, utf8, bytes);
}
