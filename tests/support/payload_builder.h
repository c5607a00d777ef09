// Builds payload bytes field by field, for payloads the writer would never produce.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crc/crc32.h"

class PayloadBytes {
public:
    PayloadBytes& Magic(const char* text)
    {
        uint8_t magic[16] = {};
        std::memcpy(magic, text, std::min<size_t>(std::strlen(text), 16));
        return Raw(magic, 16);
    }
    PayloadBytes& U8(uint8_t v) { return Le(v, 1); }
    PayloadBytes& U16(uint16_t v) { return Le(v, 2); }
    PayloadBytes& U32(uint32_t v) { return Le(v, 4); }
    PayloadBytes& U64(uint64_t v) { return Le(v, 8); }
    PayloadBytes& Raw(const void* data, size_t n)
    {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);
        return *this;
    }
    PayloadBytes& Raw(const std::vector<uint8_t>& data) { return Raw(data.data(), data.size()); }
    // A standard header: magic, patched size, CRC, data offset 40, description offset.
    PayloadBytes& Header(int64_t patchedSize, uint32_t crc, uint64_t descriptionOffset = 0,
                         uint32_t dataOffset = 40, const char* magic = "VELK-PATCH3.0")
    {
        return Magic(magic).U64(static_cast<uint64_t>(patchedSize)).U32(crc).U32(dataOffset).U64(descriptionOffset);
    }
    PayloadBytes& Relative(uint32_t delta, std::vector<uint8_t> data)
    {
        return U8(1).U32(delta).U16(static_cast<uint16_t>(data.size())).Raw(data);
    }
    PayloadBytes& Absolute(uint64_t position, std::vector<uint8_t> data)
    {
        return U8(2).U64(position).U16(static_cast<uint16_t>(data.size())).Raw(data);
    }
    // An extension block: `length` bytes (more than 32 adds fields of a later version), its own
    // CRC computed over the bytes before it and then, if asked, spoiled.
    PayloadBytes& Block(uint32_t resultCrc, uint64_t originalSize, uint32_t length = 32, bool spoilOwnCrc = false,
                        const char* tag = "VELKEXT1", uint32_t flags = 0)
    {
        const size_t start = bytes.size();
        Raw(tag, 8).U32(length).U32(resultCrc).U64(originalSize).U32(flags);
        bytes.resize(start + std::max<size_t>(length, 28), 0x5A);
        const size_t crcAt = bytes.size() - 4;
        const uint32_t crc = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, &bytes[start], crcAt - start);
        for (int i = 0; i < 4; ++i) bytes[crcAt + i] = static_cast<uint8_t>((spoilOwnCrc ? ~crc : crc) >> (8 * i));
        return *this;
    }
    PayloadBytes& End() { return U8(0xFF); }
    PayloadBytes& Text(const std::u16string& text)
    {
        for (char16_t c : text) U16(c);
        return *this;
    }

    std::vector<uint8_t> bytes;

private:
    PayloadBytes& Le(uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
};
