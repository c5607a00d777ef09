#include "cli/description.h"

#include <cstdint>

namespace velk_cli {

namespace {

// Decodes one UTF-8 sequence at `i`; false for anything the standard rejects (overlong forms,
// surrogates, values past U+10FFFF, truncated sequences).
bool DecodeOne(const std::string& text, size_t* i, uint32_t* code)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(*i);
    int extra;
    uint32_t value, minimum;
    if (lead < 0x80) {
        *code = lead;
        ++*i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, value = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, value = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, value = lead & 0x07u, minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - *i <= static_cast<size_t>(extra)) return false;  // cut short by the end
    for (int k = 1; k <= extra; ++k) {
        const uint8_t next = byte(*i + static_cast<size_t>(k));
        if ((next & 0xC0) != 0x80) return false;
        value = value << 6 | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *code = value;
    *i += static_cast<size_t>(extra) + 1;
    return true;
}

void AppendUnits(std::u16string* out, uint32_t code)
{
    if (code < 0x10000) {
        out->push_back(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }
}

}  // namespace

DescriptionResult ConvertDescription(const std::string& utf8)
{
    DescriptionResult result;
    size_t i = utf8.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < utf8.size()) {
        const size_t at = i;
        uint32_t code;
        if (!DecodeOne(utf8, &i, &code)) {
            result.status = DescriptionStatus::kNotUtf8;
            result.badByte = at;
            result.text.clear();
            return result;
        }
        if (code == 0) {
            // The payload's text ends at its first NUL; whatever followed would silently vanish.
            result.status = DescriptionStatus::kContainsNul;
            result.badByte = at;
            result.text.clear();
            return result;
        }
        if (code == '\r') {
            if (i < utf8.size() && utf8[i] == '\n') ++i;
            result.text += u"\r\n";
        } else if (code == '\n') {
            result.text += u"\r\n";
        } else {
            AppendUnits(&result.text, code);
        }
    }
    result.units = result.text.size();
    if (result.units > kMaxDescriptionUnits) {
        result.status = DescriptionStatus::kTooLong;
        result.text.clear();
    }
    return result;
}

}  // namespace velk_cli
