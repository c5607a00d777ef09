// Apart from payload_text.cpp, whose std::string functions would bring the C++ runtime's
// exception handling into the patch program, which needs only this.
#include <cstdint>

#include "file/utf8.h"
#include "format/payload_text.h"

void AppendUtf8(std::u16string* text, const char* utf8, size_t bytes)
{
    text->reserve(text->size() + bytes);
    AppendUtf8AsUtf16(text, utf8, bytes);
}
