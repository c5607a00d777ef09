// A multi-line edit control breaks lines only at CR LF; descriptions written on other systems
// often carry bare LF (or bare CR).
#pragma once

#include <string>

// The text with every CR LF, bare LF and bare CR spelled CR LF.
std::u16string WithWindowsLineBreaks(const char16_t* text);
