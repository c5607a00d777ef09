// Picks the CRC path for this CPU. Faster paths register here as they are added.
#include "file/crc32.h"

namespace velk_crc32 {

ExtendFunction BestExtend()
{
    return ExtendSlicing8;
}

}  // namespace velk_crc32
