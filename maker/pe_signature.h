// Taking the Authenticode signature off a patch program, so that its executable part can carry
// another payload. A patch is signed once finished: its certificate table follows the payload
// and covers it, and would be wrong for any other. A stub may also have been signed on its own,
// with the table right behind its image.
#pragma once

#include <cstdint>

#include "file/velk_xfile.h"

// Makes the executable image in [0, length) of `file` unsigned: the certificate table's entry is
// cleared, a table at the very end of the image is cut off, and the PE checksum is computed
// again over what remains, as the linker had written it. An image without a signature, or one
// that is not PE, stays as it is. Returns the image's length afterwards, with the position
// there, or -1 on failure.
int64_t RemovePeSignature(CVELK_xFile& file, int64_t length);
