// UTF-8, one code point at a time: the paths a set names and the texts a payload carries.
#pragma once

#include <cstddef>
#include <cstdint>

// One code point of well-formed UTF-8 at `p` (no overlong forms, no surrogates), of at most
// `available` bytes; its length in `length`, or false.
bool DecodeUtf8(const unsigned char* p, size_t available, uint32_t* code, size_t* length);
// Writes the code point's UTF-8 (1 to 4 bytes) to `out`; returns their number.
size_t EncodeUtf8(uint32_t code, char* out);
