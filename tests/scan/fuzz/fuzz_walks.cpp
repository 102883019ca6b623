// libFuzzer target: any bytes as a picture of every walked format and as a
// found file of every format with a walk, whole and fed in pieces.
//   bytes 0-3: the seed of the piece sizes; the rest: the picture.
#include "tests/scan/fuzz/walk_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t pieces;
    std::memcpy(&pieces, data, 4);
    walk_checks::checkWalks(data + 4, size - 4, pieces);
    walk_checks::checkStructures(data + 4, size - 4, pieces);
    return 0;
}
