// Apart from payload_text.cpp, whose std::string functions would bring the C++ runtime's
// exception handling into the patch program, which needs only this.
#include <cstdint>

#include "format/payload_text.h"

void AppendUtf8(std::u16string* text, const char* utf8, size_t bytes)
{
    std::u16string& out = *text;
    out.reserve(out.size() + bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    const size_t n = bytes;
    for (size_t i = 0; i < n;) {
        const uint32_t lead = p[i];
        int extra;
        uint32_t code, minimum;
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, code = lead & 0x07, minimum = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = i + extra < n;
        for (int k = 1; ok && k <= extra; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        if (!ok || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
}
