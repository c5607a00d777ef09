// A message put together from pieces, in a fixed buffer: the string classes stay out of the patch
// program. Every message is far shorter than the buffer; a longer one is cut, never overrun.
#pragma once

#include <cstddef>
#include <cstdint>

class CVELK_MessageText {
public:
    static constexpr size_t kUnits = 384;

    CVELK_MessageText& Add(const char16_t* text);
    // A line of its own: after a line break unless the text is empty so far.
    CVELK_MessageText& AddLine(const char16_t* text);
    // `pattern` with each '%' replaced by the next of `values`.
    CVELK_MessageText& Fill(const char16_t* pattern, const char16_t* const* values, size_t count);

    const char16_t* Text() const { return m_units; }
    bool Empty() const { return m_length == 0; }

private:
    CVELK_MessageText& Put(char16_t unit);

    char16_t m_units[kUnits] = {};
    size_t m_length = 0;
};

// `value` in decimal digits, grouped by thousands with ',' ("1,048,576").
struct VelkGroupedNumber {
    explicit VelkGroupedNumber(uint64_t value);
    char16_t units[28];
};
