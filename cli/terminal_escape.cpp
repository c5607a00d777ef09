#include "cli/terminal_escape.h"

#include <cstdint>

namespace velk_cli {

namespace {

void AppendHex(std::string* out, const char* prefix, unsigned value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    *out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::string EscapeControls(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const uint8_t byte = static_cast<uint8_t>(utf8[i]);
        const uint8_t next = i + 1 < utf8.size() ? static_cast<uint8_t>(utf8[i + 1]) : 0;
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) {
            AppendHex(&out, "\\x", byte, 2);
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            // U+0080 to U+009F: some terminals take U+009B for the CSI that ESC [ also starts.
            AppendHex(&out, "\\u", next, 4);
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string ForStream(Stream stream, const std::string& utf8)
{
    return IsTerminal(stream) ? EscapeControls(utf8) : utf8;
}

}  // namespace velk_cli
