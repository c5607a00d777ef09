// Apart from payload_text.cpp, whose std::string functions would bring the C++ runtime's
// exception handling into the patch program, which needs only this.
#include <cstdint>

#include "file/utf8.h"
#include "format/payload_text.h"

void AppendUtf8(std::u16string* text, const char* utf8, size_t bytes)
{
    std::u16string& out = *text;
    out.reserve(out.size() + bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    for (size_t i = 0; i < bytes;) {
        uint32_t code = 0xFFFD;
        size_t length = 1;  // a byte that starts no whole code point stands for one replacement
        if (DecodeUtf8(p + i, bytes - i, &code, &length) && code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            code = 0xDC00 + (code & 0x3FF);
        }
        out += static_cast<char16_t>(code);
        i += length;
    }
}
