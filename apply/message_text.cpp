#include "apply/message_text.h"

CVELK_MessageText& CVELK_MessageText::Put(char16_t unit)
{
    if (m_length + 1 < kUnits) m_units[m_length++] = unit;
    m_units[m_length] = 0;
    return *this;
}

CVELK_MessageText& CVELK_MessageText::Add(const char16_t* text)
{
    for (; *text != 0; ++text) Put(*text);
    return *this;
}

CVELK_MessageText& CVELK_MessageText::AddLine(const char16_t* text)
{
    if (!Empty()) Put(u'\n');
    return Add(text);
}

CVELK_MessageText& CVELK_MessageText::Fill(const char16_t* pattern, const char16_t* const* values, size_t count)
{
    size_t next = 0;
    for (; *pattern != 0; ++pattern) {
        if (*pattern == u'%' && next < count) Add(values[next++]);
        else Put(*pattern);
    }
    return *this;
}

VelkGroupedNumber::VelkGroupedNumber(uint64_t value)
{
    // Right to left: a digit at a time, a comma before every fourth.
    char16_t reversed[sizeof units / sizeof units[0]];
    int n = 0;
    for (int digits = 0; digits == 0 || value != 0; ++digits, value /= 10) {
        if (digits > 0 && digits % 3 == 0) reversed[n++] = u',';
        reversed[n++] = static_cast<char16_t>(u'0' + value % 10);
    }
    for (int i = 0; i < n; ++i) units[i] = reversed[n - 1 - i];
    units[n] = 0;
}
