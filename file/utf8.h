// UTF-8, one code point at a time: the paths a set names and the texts a payload carries.
#pragma once

#include <cstddef>
#include <cstdint>

// One code point of well-formed UTF-8 at `p` (no overlong forms, no surrogates), of at most
// `available` bytes; its length in `length`, or false.
bool DecodeUtf8(const unsigned char* p, size_t available, uint32_t* code, size_t* length);
// Writes the code point's UTF-8 (1 to 4 bytes) to `out`; returns their number.
size_t EncodeUtf8(uint32_t code, char* out);

// Appends `bytes` of UTF-8 to `out` (a string of 16-bit units) as UTF-16: a byte that starts no
// whole code point stands for one replacement character, and `slash` takes the place of '/'.
template <class Units>
void AppendUtf8AsUtf16(Units* out, const char* utf8, size_t bytes, typename Units::value_type slash = '/')
{
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    for (size_t i = 0; i < bytes;) {
        uint32_t code = 0xFFFD;
        size_t length = 1;
        if (DecodeUtf8(p + i, bytes - i, &code, &length) && code >= 0x10000) {
            code -= 0x10000;
            out->push_back(static_cast<typename Units::value_type>(0xD800 + (code >> 10)));
            code = 0xDC00 + (code & 0x3FF);
        }
        out->push_back(code == '/' ? slash : static_cast<typename Units::value_type>(code));
        i += length;
    }
}
