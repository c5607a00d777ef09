// Text that does not come from velkpatch itself (a patch's description and version, file names)
// shown on a terminal. The terminal obeys control characters: ESC sequences retitle it, move the
// cursor or hide text, and a bare CR lets a line overwrite another, so a patch could fake a
// "补丁成功" of its own. On a terminal they are shown escaped; a file or pipe gets the exact bytes.
#pragma once

#include <string>

#include "cli/platform.h"

namespace velk_cli {

// Control characters other than line ends and tabs made visible: C0 controls and DEL as \xHH,
// C1 controls (U+0080 to U+009F) as \uHHHH. Everything else, invalid UTF-8 included, is kept.
std::string EscapeControls(const std::string& utf8);

// The text as `stream` should receive it: escaped when the stream is a terminal, exact otherwise.
std::string ForStream(Stream stream, const std::string& utf8);

}  // namespace velk_cli
