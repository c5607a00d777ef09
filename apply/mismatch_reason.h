// Why a target failed the CRC check, where that can be told: the line the CRC question gains
// above it. The reasons that need to know the original's size come only from a payload with an
// extension block.
#pragma once

#include <cstdint>

#include "apply/message_text.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"

// Adds the reason to `line` (nothing where none is known). `identity` is the payload's block, or
// null. Reads at most a few KiB of the target.
void ExplainMismatch(CVELK_xFile& target, int64_t targetSize, const VelkResultIdentity* identity,
                     CVELK_MessageText& line);
