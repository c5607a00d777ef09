#include "ui/line_breaks.h"

std::u16string WithWindowsLineBreaks(const char16_t* text)
{
    std::u16string out;
    for (const char16_t* p = text; *p != 0; ++p) {
        if (*p == u'\r' || *p == u'\n') {
            out += u"\r\n";
            if (p[0] == u'\r' && p[1] == u'\n') ++p;
        } else {
            out += *p;
        }
    }
    return out;
}
